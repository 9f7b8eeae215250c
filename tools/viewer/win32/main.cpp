// bimvision_substitute.exe: a stand-in for the IFC viewer that loads plugins, shows a model
// snapshot and logs what the plugin does with it. See tools/viewer/README.md.
#include "viewer_app.h"

#include <shellapi.h>

#include <cstdio>

#include "text.h"

namespace bvs {
bool read_whole_file(const std::u16string& path, std::string& out);
std::shared_ptr<const Model> load_model_file(const std::u16string& path, std::string& error);
void write_stderr(const std::string& text);
}  // namespace bvs

namespace {

int fail(int code, const std::string& message) {
    bvs::write_stderr("bimvision_substitute: " + message + "\n");
    return code;
}

int start(HINSTANCE instance) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::u16string> args;
    for (int i = 1; argv && i < argc; ++i)
        args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    if (argv) LocalFree(argv);

    bvs::Parsed<bvs::Options> options = bvs::parse_command_line(args);
    if (!options.ok())
        return fail(bvs::exit_usage,
                    options.error +
                        "\nusage: bimvision_substitute.exe --model FILE.json [--plugin DLL] "
                        "[--log FILE] [--script \"action;...\"] [--screenshot FILE.bmp] "
                        "[--host-select-notifies] [--host-select-sync]");
    bvs::Parsed<std::vector<bvs::Action>> script = bvs::parse_script(options.value.script);
    if (!script.ok()) return fail(bvs::exit_usage, script.error);

    std::FILE* log_file = nullptr;
    if (!options.value.log.empty()) {
        log_file = _wfopen(reinterpret_cast<const wchar_t*>(options.value.log.c_str()), L"wb");
        if (!log_file)
            return fail(bvs::exit_usage,
                        "cannot write the log \"" + bvs::utf16_to_utf8(options.value.log) + "\"");
    }

    std::string why;
    std::shared_ptr<const bvs::Model> model = bvs::load_model_file(options.value.model, why);
    int code;
    {
        bvs::ViewerApp app(options.value, std::move(script.value), model);
        app.log().set_file(log_file);
        if (!model) {
            app.error(why);
            code = bvs::exit_bad_model;
        } else {
            code = app.run(instance);
        }
    }
    if (log_file) std::fclose(log_file);
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        return start(instance);
    } catch (const std::exception& e) {
        return fail(bvs::exit_internal, std::string("internal error: ") + e.what());
    } catch (...) {
        return fail(bvs::exit_internal, "internal error");
    }
}
