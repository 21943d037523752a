// The input profile and bindings against what the driver really creates: the components come
// from the driver itself, activated in the simulated runtime, not from a copied list.
#include "DeviceProvider.h"
#include "PackageFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using namespace package_test;

namespace {

// Component path ("/input/fire/click") -> kind, as the driver created them.
std::map<std::string, sim::ComponentKind> CreatedComponents()
{
    sim::SimHost host;
    host.UseFactory(&tarvolt::ProviderFactory);
    std::map<std::string, sim::ComponentKind> created;
    if (host.Init() != vr::VRInitError_None || host.Activate() != vr::VRInitError_None)
        return created;
    for (const auto &component : host.Recorder().Components())
        created[component.name] = component.kind;
    host.Shutdown();
    return created;
}

// The components a profile source stands for: "click" a boolean, "value" a scalar. A trigger
// without the flags still has both, as SteamVR creates them for a plain trigger.
std::map<std::string, sim::ComponentKind> ComponentsOf(const std::string &path, const json &source)
{
    std::map<std::string, sim::ComponentKind> wanted;
    const std::string type = source.at("type").get<std::string>();
    const bool trigger = type == "trigger";
    if (source.value("click", trigger) || type == "button")
        wanted[path + "/click"] = sim::ComponentKind::Boolean;
    if (source.value("value", trigger))
        wanted[path + "/value"] = sim::ComponentKind::Scalar;
    for (const char *other : {"touch", "force"})
        if (source.value(other, false))
            wanted[path + "/" + other] = sim::ComponentKind::Boolean;  // never created: reported
    return wanted;
}

// Catches: a component the bindings screen cannot show (missing from the profile or declared
// with the wrong type), and a profile input that no component feeds, which users can bind but
// which never fires.
TEST(ProfileComponents, ProfileCoversExactlyWhatTheDriverCreates)
{
    const auto created = CreatedComponents();
    ASSERT_EQ(created.size(), 6u);

    const json profile = Profile();
    std::map<std::string, sim::ComponentKind> declared;
    for (const auto &source : profile.at("input_source").items()) {
        const std::string path = source.key();
        if (path.rfind("/pose/", 0) == 0) {
            // Not a component: SteamVR serves the device's own pose under it.
            EXPECT_EQ(path, "/pose/raw");
            EXPECT_EQ(source.value().at("type"), "pose") << path;
            continue;
        }
        ASSERT_EQ(path.rfind("/input/", 0), 0u) << path;
        const std::string type = source.value().at("type").get<std::string>();
        EXPECT_TRUE(type == "button" || type == "trigger") << path << ": " << type;
        for (const auto &component : ComponentsOf(path, source.value()))
            EXPECT_TRUE(declared.insert(component).second) << component.first << " declared twice";
    }
    for (const auto &component : created) {
        const auto it = declared.find(component.first);
        ASSERT_NE(it, declared.end()) << component.first << " is not covered by the profile";
        EXPECT_EQ(it->second, component.second) << component.first << " has another type in the profile";
    }
    for (const auto &component : declared)
        EXPECT_EQ(created.count(component.first), 1u) << component.first << " has no component";
}

// Which inputs of a binding source each profile type offers.
bool ModeFits(const std::string &type, const std::string &mode, const std::string &input, const json &source)
{
    if (mode == "button")
        return input == "click" && (type == "button" || source.value("click", type == "trigger"));
    if (mode == "trigger")
        return type == "trigger" && ((input == "pull" && source.value("value", true)) ||
                                     (input == "click" && source.value("click", true)));
    return false;
}

// Every binding file the profile names: its legacy binding and its default bindings.
std::vector<fs::path> BindingFiles(const json &profile)
{
    std::vector<fs::path> files = {ResolvePackagePath(profile.at("legacy_binding").get<std::string>())};
    for (const json &binding : profile.at("default_bindings"))
        files.push_back(ResourcesDir() / "input" / fs::u8path(binding.at("binding_url").get<std::string>()));
    return files;
}

// Catches: bindings that refer to inputs the profile does not declare, under another user path,
// or in a mode the input cannot serve (SteamVR drops such entries without a word, and the game then
// gets no trigger or button); and a binding without the option that hands the rifle's inputs to
// the right hand. The rifle is a secondary device (it announces the treadmill role); without the
// option SteamVR keeps its presses under its own user path, and games and the dashboard, which read
// their actions per hand, never see a pull. Returned with one hand only: with the head or the left
// hand as well, a pull would reach the game twice. Also catches a pose bound from the rifle's user
// path: the right controller mounted on the rifle already aims as the right hand, and a
// treadmill-role device's pose does not stand in for a hand's.
TEST(ProfileComponents, BindingsUseOnlyDeclaredInputsAndReturnThemWithTheRightHand)
{
    const json profile = Profile();
    const json &sources = profile.at("input_source");
    const std::vector<fs::path> files = BindingFiles(profile);
    ASSERT_EQ(files.size(), 2u);
    for (const fs::path &file : files) {
        SCOPED_TRACE(file.u8string());
        const json binding = ReadJson(file);
        EXPECT_EQ(binding.at("controller_type"), profile.at("controller_type"));
        const json options = binding.value("options", json::object());
        EXPECT_EQ(options.value("returnBindingsWithRightHand", false), true);
        EXPECT_EQ(options.value("returnBindingsWithLeftHand", false), false);
        EXPECT_EQ(options.value("returnBindingsWithHead", false), false);
        size_t entries = 0;
        for (const auto &set : binding.at("bindings").items()) {
            EXPECT_TRUE(set.value().value("poses", json::array()).empty()) << set.key();
            for (const json &source : set.value().value("sources", json::array())) {
                const std::string path = source.at("path").get<std::string>();
                ASSERT_EQ(path.rfind(kUserPath + "/", 0), 0u) << path;
                const std::string input = path.substr(kUserPath.size());
                ASSERT_TRUE(sources.contains(input)) << path;
                const std::string type = sources[input].at("type").get<std::string>();
                for (const auto &in : source.at("inputs").items())
                    EXPECT_TRUE(ModeFits(type, source.at("mode"), in.key(), sources[input]))
                        << path << " " << source.at("mode") << " " << in.key();
                ++entries;
            }
        }
        EXPECT_GT(entries, 0u);
    }
}

// Catches: a legacy binding that leaves the trigger or a button out, names an action the classic
// controller state does not have (SteamVR drops it silently), or feeds one action from two
// inputs, so that two of the rifle's actions look alike to the game.
TEST(ProfileComponents, LegacyBindingFeedsTheSixClassicRightHandActionsOnce)
{
    const json profile = Profile();
    const json legacy = ReadJson(ResolvePackagePath(profile.at("legacy_binding").get<std::string>()));
    std::set<std::string> bound;
    std::multiset<std::string> outputs;
    for (const json &source : legacy.at("bindings").at("/actions/legacy").at("sources")) {
        bound.insert(source.at("path").get<std::string>().substr(kUserPath.size()));
        for (const auto &input : source.at("inputs").items())
            outputs.insert(input.value().at("output").get<std::string>());
    }
    for (const auto &source : profile.at("input_source").items()) {
        if (source.key().rfind("/input/", 0) == 0) {
            EXPECT_EQ(bound.count(source.key()), 1u) << source.key();
        }
    }
    const std::multiset<std::string> classic = {
        "/actions/legacy/in/right_axis1_value",          "/actions/legacy/in/right_axis1_press",
        "/actions/legacy/in/right_applicationmenu_press", "/actions/legacy/in/right_grip_press",
        "/actions/legacy/in/right_a_press",               "/actions/legacy/in/right_axis0_press"};
    EXPECT_EQ(outputs, classic);
}

} // namespace
