// What objects compiled for the MSVC ABI expect of MSVC's C runtime and MinGW's does not define.
extern "C" {

// Referenced by every MSVC-ABI object that uses floating point.
int _fltused = 0;

} // extern "C"
