#include "script.h"

#include "model.h"
#include "text.h"

namespace bvs {

namespace {

bool is_space(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::u16string_view> split(std::u16string_view s, char16_t sep) {
    std::vector<std::u16string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool parse_u32(std::u16string_view s, std::uint32_t& out) {
    if (s.empty() || s.size() > 10) return false;
    std::uint64_t v = 0;
    for (char16_t c : s) {
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - u'0');
    }
    if (v > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

std::string quoted(std::u16string_view s) {
    std::string out(1, '"');
    out += utf16_to_utf8(s);
    out += '"';
    return out;
}

}  // namespace

Parsed<Options> parse_command_line(const std::vector<std::u16string>& args) {
    Parsed<Options> r;
    Options& o = r.value;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        std::u16string* target = nullptr;
        if (a == u"--model")
            target = &o.model;
        else if (a == u"--plugin")
            target = &o.plugin;
        else if (a == u"--log")
            target = &o.log;
        else if (a == u"--script")
            target = &o.script;
        else if (a == u"--screenshot")
            target = &o.screenshot;
        else if (a == u"--host-select-notifies") {
            o.host_select_notifies = true;
            continue;
        } else if (a == u"--host-select-sync") {
            o.host_select_sync = true;
            continue;
        } else if (a == u"--slow-read") {
            if (i + 1 >= args.size() || !parse_u32(args[i + 1], o.slow_read_ms) ||
                o.slow_read_ms > 60000) {
                r.error = "--slow-read needs a number of milliseconds from 0 to 60000";
                return r;
            }
            ++i;
            continue;
        } else if (a == u"--address-space-left") {
            const std::u16string* text = i + 1 < args.size() ? &args[i + 1] : nullptr;
            std::uint32_t mb = 0;
            bool ok = text && !text->empty() && text->size() <= 4;
            for (std::size_t k = 0; ok && k < text->size(); ++k) {
                ok = (*text)[k] >= u'0' && (*text)[k] <= u'9';
                mb = mb * 10 + ((*text)[k] - u'0');
            }
            if (!ok || mb == 0) {
                r.error = "--address-space-left needs a number of MB from 1 to 9999";
                return r;
            }
            o.address_space_left_mb = mb;
            ++i;
            continue;
        } else {
            r.error = "unknown argument " + quoted(a);
            return r;
        }
        if (i + 1 >= args.size()) {
            r.error = utf16_to_utf8(a) + " needs a value";
            return r;
        }
        *target = args[++i];
    }
    if (o.model.empty()) r.error = "--model FILE.json is required";
    return r;
}

Parsed<std::vector<Action>> parse_script(std::u16string_view script) {
    Parsed<std::vector<Action>> r;
    for (std::u16string_view piece : split(script, u';')) {
        std::u16string_view step = trim(piece);
        if (step.empty()) continue;
        std::size_t cut = 0;
        while (cut < step.size() && !is_space(step[cut])) ++cut;
        std::u16string_view verb = step.substr(0, cut);
        std::u16string_view rest = trim(step.substr(cut));
        std::vector<std::u16string_view> words;
        for (std::u16string_view w : split(rest, u' '))
            if (!trim(w).empty()) words.push_back(trim(w));

        Action a;
        a.source = std::u16string(step);
        auto bad = [&](const char* why) {
            r.error = "script action " + quoted(step) + ": " + why;
        };
        auto number = [&](std::size_t i, std::uint32_t& out) {
            if (i < words.size() && parse_u32(words[i], out)) return true;
            bad("expects a whole number");
            return false;
        };
        auto at_most = [&](std::size_t n) {
            if (words.size() <= n) return true;
            bad("has too many arguments");
            return false;
        };

        if (verb == u"click") {
            a.kind = ActionKind::click;
            if (!at_most(1) || (words.size() == 1 && !number(0, a.number))) return r;
        } else if (verb == u"select") {
            a.kind = ActionKind::select;
            if (!rest.empty())
                for (std::u16string_view item : split(rest, u',')) {
                    item = trim(item);
                    if (item.empty()) {
                        bad("has an empty item in its list");
                        return r;
                    }
                    a.items.emplace_back(item);
                }
        } else if (verb == u"drag") {
            a.kind = ActionKind::drag;
            if (!at_most(0)) return r;
        } else if (verb == u"wait-requests") {
            a.kind = ActionKind::wait_requests;
            a.timeout_ms = default_wait_timeout_ms;
            if (!at_most(2) || !number(0, a.number) ||
                (words.size() == 2 && !number(1, a.timeout_ms)))
                return r;
        } else if (verb == u"wait-file") {
            // The limit first: the file's name may hold spaces.
            a.kind = ActionKind::wait_file;
            if (!number(0, a.timeout_ms)) return r;
            std::u16string_view after = trim(rest.substr(words[0].size()));
            if (after.empty()) {
                bad("needs a file name");
                return r;
            }
            a.text = std::u16string(after);
        } else if (verb == u"sleep") {
            a.kind = ActionKind::sleep;
            if (!at_most(1) || !number(0, a.number)) return r;
        } else if (verb == u"screenshot") {
            a.kind = ActionKind::screenshot;
            if (rest.empty()) {
                bad("needs a file name");
                return r;
            }
            a.text = std::u16string(rest);
        } else if (verb == u"copydata") {
            a.kind = ActionKind::copydata;
            a.text = std::u16string(rest);
        } else if (verb == u"dismiss-dialog") {
            a.kind = ActionKind::dismiss_dialog;
            a.timeout_ms = default_dialog_timeout_ms;
            if (!at_most(1) || (words.size() == 1 && !number(0, a.timeout_ms))) return r;
        } else if (verb == u"watch-progress") {
            a.kind = ActionKind::watch_progress;
            if (!at_most(2) || !number(0, a.timeout_ms)) return r;
            if (words.size() == 2) {
                if (words[1] != u"cancel") {
                    bad("takes only \"cancel\" after its time-out");
                    return r;
                }
                a.number = 1;
            }
        } else if (verb == u"load") {
            a.kind = ActionKind::load;
            a.text = std::u16string(rest);
        } else if (verb == u"quit") {
            a.kind = ActionKind::quit;
            if (!at_most(0)) return r;
        } else {
            bad("is not a known action");
            return r;
        }
        r.value.push_back(std::move(a));
    }
    return r;
}

std::size_t find_select_item(const Model& model, std::u16string_view item) {
    if (item.size() > 1 && item[0] == u'#') {
        std::uint64_t id = 0;
        bool digits = true;
        for (std::size_t k = 1; k < item.size(); ++k) {
            digits &= item[k] >= u'0' && item[k] <= u'9';
            id = id * 10 + static_cast<std::uint64_t>(item[k] - u'0');
        }
        return digits ? model.index_of(id) : Model::npos;
    }
    return model.index_of_guid(item);
}

bool is_png_path(std::u16string_view path) {
    if (path.size() < 4) return false;
    std::u16string_view ext = path.substr(path.size() - 4);
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; };
    return ext[0] == u'.' && lower(ext[1]) == u'p' && lower(ext[2]) == u'n' && lower(ext[3]) == u'g';
}

}  // namespace bvs
