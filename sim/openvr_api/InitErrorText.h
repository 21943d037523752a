#pragma once
// Names and English texts of the client library's initialisation errors (vr::EVRInitError), as
// the official library reports them when no runtime is connected.
namespace sim {

// "VRInitError_<Name>" for a known code; "Unknown error (<code>)" otherwise.
const char *InitErrorSymbol(int code);
// The English text, e.g. "Not starting vrserver for background app (121)". Codes without an
// English text of their own fall back to the symbol, as the official library does.
const char *InitErrorEnglish(int code);

} // namespace sim
