#include "step_file.h"

#include "text.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>
#include <unordered_map>

namespace ifc2snapshot {
namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_word(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

// The end of the string literal whose opening quote is at i: the index of its closing quote, or
// npos. '' inside it is an apostrophe; a backslash escapes nothing.
size_t string_end(std::string_view s, size_t i) {
    for (size_t j = i + 1;;) {
        const size_t q = s.find('\'', j);
        if (q == std::string_view::npos) return q;
        if (q + 1 < s.size() && s[q + 1] == '\'') {
            j = q + 2;
            continue;
        }
        return q;
    }
}

// The string body in the form the reader decodes correctly; most bodies need no change.
void append_string_body(std::string_view body, std::string& out) {
    const bool plain = std::none_of(body.begin(), body.end(), [](char c) {
        return c == '\'' || c == '\\' || static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20;
    });
    if (plain) out.append(body);
    else out += encode_step_string(decode_step_string(body));
}

enum class Pass { find_instances, rewrite };

// Walks the file statement by statement. The first pass lists the instances the reader will
// have; the second copies the file into out, strings rewritten and unresolved references taken
// out.
class Walker {
public:
    Walker(std::string_view s, Pass pass, const std::function<bool(const std::string&)>& readable,
           std::vector<int>& instances, std::vector<int>& unreadable, PreparedStep* prepared,
           std::vector<std::pair<int, std::string>>& kinds, const ListTakes& takes)
        : s_(s), pass_(pass), readable_(readable), instances_(instances), unreadable_(unreadable), prepared_(prepared),
          kinds_(kinds), takes_(takes) {}

    std::vector<std::pair<int, size_t>> starts;  // of every instance, id and offset, in file order (first pass)

    void run() {
        if (out()) out()->reserve(s_.size() + s_.size() / 16);
        while (i_ < s_.size()) statement();
    }

private:
    std::string* out() { return prepared_ ? &prepared_->text : nullptr; }

    void copy(size_t from, size_t to) {
        if (out()) out()->append(s_.substr(from, to - from));
    }

    // Whitespace and comments before a token, copied.
    void skip_blank() {
        for (;;) {
            const size_t start = i_;
            while (i_ < s_.size() && is_space(s_[i_])) ++i_;
            if (s_.compare(i_, 2, "/*") == 0) {
                const size_t close = s_.find("*/", i_ + 2);
                i_ = close == std::string_view::npos ? s_.size() : close + 2;
            }
            copy(start, i_);
            if (i_ == start) return;
        }
    }

    void statement() {
        skip_blank();
        if (i_ >= s_.size()) return;
        // #id = KEYWORD(...); in a DATA section, otherwise a keyword statement.
        bool simple = false;
        if (in_data_ && s_[i_] == '#') {
            const size_t start = i_++;
            long long id = 0;
            while (i_ < s_.size() && is_digit(s_[i_])) id = std::min<long long>(id * 10 + (s_[i_++] - '0'), 1LL << 40);
            copy(start, i_);
            if (pass_ == Pass::find_instances)
                starts.emplace_back(static_cast<int>(std::min<long long>(id, 0x7FFFFFFF)), start);
            skip_blank();
            if (i_ < s_.size() && s_[i_] == '=') {
                copy(i_, i_ + 1);
                ++i_;
                skip_blank();
            }
            const size_t word = i_;
            while (i_ < s_.size() && is_word(s_[i_])) ++i_;
            keyword_.assign(s_.substr(word, i_ - word));
            make_upper_ascii(keyword_);  // the reader takes the type names in any case
            copy(word, i_);
            entity_ = static_cast<int>(std::min<long long>(id, 0x7FFFFFFF));
            if (keyword_.empty()) {
                // A complex instance, (A(...)B(...)): kept, and its references left alone.
                if (pass_ == Pass::find_instances) instances_.push_back(entity_);
            } else if (readable_(keyword_)) {
                simple = true;
                if (pass_ == Pass::find_instances) {
                    instances_.push_back(entity_);
                    kinds_.emplace_back(entity_, keyword_);
                }
            } else if (pass_ == Pass::find_instances) {
                unreadable_.push_back(entity_);
            } else {
                unknown_from_ = i_;
                unknown_keyword_.assign(s_.substr(word, i_ - word));
            }
        } else {
            const size_t word = i_;
            while (i_ < s_.size() && is_word(s_[i_])) ++i_;
            const std::string_view w = s_.substr(word, i_ - word);
            if (w == "DATA") in_data_ = true;
            else if (w == "ENDSEC") in_data_ = false;
            copy(word, i_);
            if (i_ == word && i_ < s_.size() && s_[i_] != '(' && s_[i_] != ';') {  // stray character
                copy(i_, i_ + 1);
                ++i_;
            }
        }
        body(simple);
        if (unknown_from_ != std::string_view::npos) {
            size_t end = i_;
            while (end > unknown_from_ && s_[end - 1] != ')') --end;  // back over ';'
            prepared_->unknown.push_back(
                {entity_, unknown_keyword_, split_arguments(s_.substr(unknown_from_, end - unknown_from_))});
            unknown_from_ = std::string_view::npos;
        }
    }

    // The rest of a statement, up to and including its ';'.
    void body(bool simple) {
        int depth = 0;
        size_t argument = 0;
        bool drop_next_comma = false;
        std::vector<bool> lists;  // per open parenthesis: a list, not a typed value such as IFCLABEL(...)
        bool after_word = false;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            const bool word = after_word;
            after_word = false;
            if (is_space(c) || s_.compare(i_, 2, "/*") == 0) {
                skip_blank();
                after_word = word;
                continue;
            }
            if (c == '\'') {
                const size_t end = string_end(s_, i_);
                if (end == std::string_view::npos) {  // cut short: the reader gets it as it is
                    copy(i_, s_.size());
                    i_ = s_.size();
                    return;
                }
                if (out()) {
                    out()->push_back('\'');
                    append_string_body(s_.substr(i_ + 1, end - i_ - 1), *out());
                    out()->push_back('\'');
                }
                i_ = end + 1;
                drop_next_comma = false;
                continue;
            }
            if (c == '"') {  // binary: hexadecimal digits between quotes
                size_t end = i_ + 1;
                while (end < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[end]))) ++end;
                if (end < s_.size() && s_[end] == '"') {
                    copy(i_, end + 1);
                    i_ = end + 1;
                    continue;
                }
                // A stray quote, copied alone: the reader does not read a binary on past it to
                // the next quote, which may lie instances further on.
            }
            if (c == '#' && simple && depth >= 1) {
                reference(depth, argument, drop_next_comma);
                continue;
            }
            if ((c == '$' || c == '*') && simple && depth >= 2 && !lists.empty() && lists.back() &&
                pass_ == Pass::rewrite) {
                ++i_;
                prepared_->unresolved.push_back({entity_, keyword_, argument, 0, true, true, false, true, {}, false, {}});
                leave_out_item(drop_next_comma);
                continue;
            }
            if (c == ',' && drop_next_comma) {
                drop_next_comma = false;
                ++i_;
                continue;
            }
            drop_next_comma = false;
            copy(i_, i_ + 1);
            ++i_;
            after_word = is_word(c);
            if (c == '(') {
                ++depth;
                lists.push_back(!word);
            } else if (c == ')') {
                --depth;
                if (!lists.empty()) lists.pop_back();
            } else if (c == ',' && depth == 1) {
                ++argument;
            } else if (c == ';') {
                return;  // the reader ends an instance there too, whatever is left open
            }
        }
    }

    void reference(int depth, size_t argument, bool& drop_next_comma) {
        const size_t start = i_++;
        long long to = 0;
        while (i_ < s_.size() && is_digit(s_[i_])) to = std::min<long long>(to * 10 + (s_[i_++] - '0'), 1LL << 40);
        const int target = static_cast<int>(std::min<long long>(to, 0x7FFFFFFF));
        bool wrong_type = false;
        if (pass_ == Pass::find_instances) {
            copy(start, i_);
            return;
        }
        std::string to_keyword;
        if (std::binary_search(instances_.begin(), instances_.end(), target)) {
            if (!takes_) {
                copy(start, i_);
                return;
            }
            // The first instance of an id, as for the reader, which ignores any later one.
            const auto kind = std::lower_bound(kinds_.begin(), kinds_.end(), target,
                                               [](const std::pair<int, std::string>& k, int id) { return k.first < id; });
            if (kind == kinds_.end() || kind->first != target || takes_(keyword_, argument, depth - 1, kind->second)) {
                copy(start, i_);
                return;
            }
            wrong_type = true;
            to_keyword = kind->second;
        }
        const bool in_file = wrong_type || std::binary_search(unreadable_.begin(), unreadable_.end(), target);
        prepared_->unresolved.push_back(
            {entity_, keyword_, argument, target, in_file, depth > 1, wrong_type, false, {}, false, std::move(to_keyword)});
        if (depth == 1) {  // an attribute of its own: unset
            prepared_->text.push_back('$');
            return;
        }
        leave_out_item(drop_next_comma);
    }

    // An item of a list: left out with its separator.
    void leave_out_item(bool& drop_next_comma) {
        std::string& o = prepared_->text;
        size_t end = o.size();
        while (end > 0 && is_space(o[end - 1])) --end;
        if (end > 0 && o[end - 1] == ',') o.erase(end - 1);
        else drop_next_comma = true;
    }

    std::string_view s_;
    Pass pass_;
    const std::function<bool(const std::string&)>& readable_;
    std::vector<int>& instances_;
    std::vector<int>& unreadable_;
    PreparedStep* prepared_;
    std::vector<std::pair<int, std::string>>& kinds_;  // of the instances, by id, each id in file order
    const ListTakes& takes_;
    size_t i_ = 0;
    bool in_data_ = false;
    int entity_ = 0;
    std::string keyword_;
    size_t unknown_from_ = std::string_view::npos;  // where an instance of an unknown type starts
    std::string unknown_keyword_;
};

// The ids given to more than one instance, with the lines of those instances.
std::vector<DuplicateId> duplicate_ids(std::string_view content, std::vector<std::pair<int, size_t>> starts) {
    std::stable_sort(starts.begin(), starts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<DuplicateId> duplicates;
    std::vector<size_t> offsets;
    for (size_t k = 0; k < starts.size();) {
        size_t end = k + 1;
        while (end < starts.size() && starts[end].first == starts[k].first) ++end;
        if (end - k > 1) {
            DuplicateId d;
            d.id = starts[k].first;
            for (size_t j = k; j < end; ++j) {
                d.lines.push_back(starts[j].second);  // an offset until the lines are counted below
                offsets.push_back(starts[j].second);
            }
            duplicates.push_back(std::move(d));
        }
        k = end;
    }
    if (duplicates.empty()) return duplicates;
    std::sort(offsets.begin(), offsets.end());
    std::unordered_map<size_t, size_t> line_of;
    size_t line = 1, at = 0;
    for (const size_t offset : offsets) {
        line += static_cast<size_t>(std::count(content.begin() + at, content.begin() + offset, '\n'));
        at = offset;
        line_of[offset] = line;
    }
    for (auto& d : duplicates)
        for (auto& l : d.lines) l = line_of[l];
    return duplicates;
}

} // namespace

std::vector<std::string> split_arguments(std::string_view parameters) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < parameters.size() && is_space(parameters[i])) ++i;
    if (i >= parameters.size() || parameters[i] != '(') return args;
    int depth = 0;
    size_t start = i + 1;
    auto add = [&](size_t end) {
        size_t b = start, e = end;
        while (b < e && is_space(parameters[b])) ++b;
        while (e > b && is_space(parameters[e - 1])) --e;
        args.emplace_back(parameters.substr(b, e - b));
    };
    for (++i; i < parameters.size(); ++i) {
        const char c = parameters[i];
        if (c == '\'') {
            const size_t end = string_end(parameters, i);
            if (end == std::string_view::npos) break;
            i = end;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (c == ')' || (c == ',' && depth == 0)) {
            add(i);
            start = i + 1;
            if (c == ')') return args;
        }
    }
    return args;  // unbalanced: what could be read
}

PreparedStep prepare_for_reader(std::string_view content, const std::function<bool(const std::string&)>& readable,
                                const ListTakes& takes) {
    std::unordered_map<std::string, bool> known;
    const std::function<bool(const std::string&)> cached = [&](const std::string& keyword) {
        const auto found = known.find(keyword);
        if (found != known.end()) return found->second;
        const bool r = readable(keyword);
        known.emplace(keyword, r);
        return r;
    };
    std::map<std::tuple<std::string, size_t, int, std::string>, bool> taken;
    const ListTakes cached_takes = [&](const std::string& from, size_t argument, int nesting, const std::string& to) {
        const auto key = std::make_tuple(from, argument, nesting, to);
        const auto found = taken.find(key);
        if (found != taken.end()) return found->second;
        const bool r = takes(from, argument, nesting, to);
        taken.emplace(key, r);
        return r;
    };
    std::vector<int> instances, unreadable;
    std::vector<std::pair<int, std::string>> kinds;
    const ListTakes none;
    Walker find(content, Pass::find_instances, cached, instances, unreadable, nullptr, kinds, none);
    find.run();
    std::sort(instances.begin(), instances.end());
    std::sort(unreadable.begin(), unreadable.end());
    std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    PreparedStep prepared;
    Walker(content, Pass::rewrite, cached, instances, unreadable, &prepared, kinds, takes ? cached_takes : none).run();
    prepared.duplicates = duplicate_ids(content, std::move(find.starts));
    return prepared;
}

} // namespace ifc2snapshot
