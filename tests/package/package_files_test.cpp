// The package's files as SteamVR reads them before it loads any code: the manifest, the settings,
// the localization and the files the input profile points at.
#include "ControllerDriver.h"
#include "DriverSettings.h"
#include "SimHost.h"
#include "PackageFiles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace package_test;

namespace {

// Catches: a manifest name that differs from the folder or the library name (SteamVR then
// reports the driver as not found), and a controller-only driver that stays inactive unless
// its own headset is present.
TEST(PackageFiles, ManifestNameMatchesFolderAndLibrary)
{
    const json manifest = ReadJson(PackageDir() / "driver.vrdrivermanifest");
    const std::string name = manifest.at("name").get<std::string>();
    EXPECT_EQ(name, PackageDir().filename().u8string());
    const fs::path library = PackageDir() / "bin" / TARVOLT_PLATFORM_DIR /
                             ("driver_" + name + TARVOLT_LIBRARY_SUFFIX);
    EXPECT_TRUE(fs::is_regular_file(library)) << library.u8string();
    EXPECT_EQ(manifest.value("alwaysActivate", false), true);
    EXPECT_EQ(manifest.value("resourceOnly", false), false);
    EXPECT_EQ(manifest.value("directory", std::string()), "");
}

// Catches: a settings section under another name (SteamVR ignores it), a key the driver does not
// read, and a default in the package that differs from the driver's built-in one or that the
// driver would refuse (SteamVR hands the package's defaults to the driver when the user has set
// nothing, so the two must agree to the bit).
TEST(PackageFiles, SettingsHoldTheDriverSectionWithTheBuiltInDefaults)
{
    const json settings = ReadJson(ResourcesDir() / "settings" / "default.vrsettings");
    ASSERT_EQ(settings.size(), 1u);
    const json &section = settings.at("driver_" + kDriverName);
    const std::set<std::string> known = {"enable", "loadPriority", "blocked_by_safe_mode", "poseSource",
                                         "mountOffsetXMeters", "mountOffsetYMeters", "mountOffsetZMeters",
                                         "mountPitchDegrees", "mountYawDegrees", "mountRollDegrees", "pressFrames"};
    for (const auto &item : section.items())
        EXPECT_EQ(known.count(item.key()), 1u) << item.key();
    EXPECT_EQ(section.value("enable", false), true);
    EXPECT_EQ(section.value("poseSource", std::string()), "right_hand");

    // The section as SteamVR serves it: every value with the type it has in the file.
    sim::SimHost host;
    for (const auto &item : section.items()) {
        const char *key = item.key().c_str();
        if (item.value().is_boolean())
            host.Context().SetBool(tarvolt::kSettingsSection, key, item.value().get<bool>(), nullptr);
        else if (item.value().is_number_integer())
            host.Context().SetInt32(tarvolt::kSettingsSection, key, item.value().get<int32_t>(), nullptr);
        else if (item.value().is_number())
            host.Context().SetFloat(tarvolt::kSettingsSection, key, item.value().get<float>(), nullptr);
        else
            host.Context().SetString(tarvolt::kSettingsSection, key, item.value().get<std::string>().c_str(), nullptr);
    }
    std::vector<std::string> told;
    const tarvolt::DriverSettings read =
        tarvolt::ReadDriverSettings(&host.Context(), [&](const char *line) { told.push_back(line); });
    EXPECT_TRUE(told.empty()) << told.front();
    const tarvolt::DriverSettings builtIn;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(read.mountOffsetMeters[i], builtIn.mountOffsetMeters[i]) << i;
    EXPECT_EQ(read.mountPitchDegrees, builtIn.mountPitchDegrees);
    EXPECT_EQ(read.mountYawDegrees, builtIn.mountYawDegrees);
    EXPECT_EQ(read.mountRollDegrees, builtIn.mountRollDegrees);
    EXPECT_EQ(read.pressFrames, builtIn.pressFrames);
    EXPECT_TRUE(read.MountingOf().builtIn) << "the package's defaults leave the built-in mount";
}

// Catches: the library naming a profile that is not where the prefix leads, a profile written
// for another controller type (SteamVR then never applies it), and dangling file references.
TEST(PackageFiles, ProfileIsWhereTheDriverSaysAndItsReferencesExist)
{
    const fs::path named = ResolvePackagePath(tarvolt::kInputProfilePath);
    ASSERT_FALSE(named.empty()) << tarvolt::kInputProfilePath;
    ASSERT_TRUE(fs::is_regular_file(named)) << named.u8string();

    const json profile = ReadJson(named);
    EXPECT_EQ(profile.at("jsonid"), "input_profile");
    EXPECT_EQ(profile.at("controller_type").get<std::string>(), tarvolt::kControllerType);
    // A gun-style accessory held with both hands: one device in the bindings screen, no hand.
    EXPECT_EQ(profile.at("input_bindingui_mode"), "single_device");

    std::vector<std::string> referenced = {profile.at("legacy_binding").get<std::string>()};
    for (const char *side : {"input_bindingui_left", "input_bindingui_right"})
        if (profile.contains(side))
            referenced.push_back(profile[side].at("image").get<std::string>());
    for (const std::string &path : referenced) {
        const fs::path file = ResolvePackagePath(path);
        EXPECT_FALSE(file.empty()) << path << " is not a path inside this package";
        EXPECT_TRUE(fs::is_regular_file(file)) << path;
    }
    ASSERT_FALSE(profile.at("default_bindings").empty());
    for (const json &binding : profile.at("default_bindings")) {
        EXPECT_FALSE(binding.at("app_key").get<std::string>().empty());
        const fs::path file = named.parent_path() / fs::u8path(binding.at("binding_url").get<std::string>());
        EXPECT_TRUE(fs::is_regular_file(file)) << file.u8string();
    }
}

// Catches: an input or the device shown in the bindings screen under its raw path.
TEST(PackageFiles, LocalizationNamesTheDeviceAndEveryInput)
{
    const json localization = ReadJson(ResourcesDir() / "localization" / "localization.json");
    ASSERT_TRUE(localization.is_array());
    const json *english = nullptr;
    for (const json &language : localization)
        if (language.value("language_tag", std::string()) == "en_US")
            english = &language;
    ASSERT_NE(english, nullptr);
    EXPECT_FALSE(english->value(tarvolt::kControllerType, std::string()).empty());
    const json profile = Profile();
    for (const auto &source : profile.at("input_source").items())
        EXPECT_FALSE(english->value(source.key(), std::string()).empty()) << source.key();
}

} // namespace
