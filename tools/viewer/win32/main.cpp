// bimvision_substitute.exe: a stand-in for the IFC viewer that loads plugins, shows a model
// snapshot and logs what the plugin does with it. See tools/viewer/README.md.
#include "viewer_app.h"

#include <shellapi.h>

#include <cstdio>

#include "file_io.h"
#include "text.h"

namespace {

const char usage[] =
    "usage: bimvision_substitute.exe --model FILE.json [--plugin DLL] [--log FILE.jsonl]\n"
    "         [--script \"action; action; ...\"] [--screenshot FILE.bmp|FILE.png]\n"
    "         [--host-select-notifies] [--host-select-sync] [--address-space-left MB]";

const char help_text[] =
    "A stand-in IFC viewer: loads the plugin DLL, serves the model snapshot through the host\n"
    "functions, runs the script and logs every host call as JSON lines.\n"
    "Actions: click [N], select GUID[,GUID...], drag, wait-requests N [MS], sleep MS,\n"
    "  screenshot FILE, copydata TEXT, dismiss-dialog [MS], load [FILE], quit.\n"
    "Exit codes: 0 ok, 2 bad command line or script, 3 bad model file, 4 plugin cannot be loaded,\n"
    "  5 a script action failed, 6 time-out, 7 internal error. See tools/viewer/README.md.\n";

/// --help anywhere on the command line: the usage on standard output, exit 0.
bool wants_help(const std::vector<std::u16string>& args) {
    for (const std::u16string& a : args)
        if (a == u"--help" || a == u"-h" || a == u"/?") return true;
    return false;
}

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
    if (wants_help(args)) {
        bvs::write_stdout(std::string(usage) + "\n" + help_text);
        return 0;
    }

    bvs::Parsed<bvs::Options> options = bvs::parse_command_line(args);
    if (!options.ok())
        return fail(bvs::exit_usage, options.error + "\n" + usage);
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
