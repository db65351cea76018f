// The hand-off file reader and the job-name check.
#include "handoff.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fitmire {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Walks the buffer word by word; words are cut at kMaxWord characters, the rest
// of an over-long word is skipped. A word that was not consumed (a failed
// number) is handed out again by the next call.
class WordReader {
public:
    WordReader(const char* data, size_t size, std::string* problems)
        : p_(data), end_(data + size), problems_(problems) {}

    // Next word into buf (kMaxWord + 1 bytes); false at the end.
    bool next(char* buf) { return take(buf, kMaxWord, "word"); }
    // A job name may be longer than a word: up to kMaxJobName characters.
    bool next_name(char* buf, bool& too_long) {
        too_long = false;
        if (!take(buf, kMaxJobName, nullptr)) return false;
        too_long = last_len_ > kMaxJobName;
        return true;
    }
    void unread() { p_ = last_start_; }
    size_t last_length() const { return last_len_; }
    bool last_is(const char* w) const {
        const size_t n = std::strlen(w);
        return last_len_ == n && std::memcmp(last_start_, w, n) == 0;
    }

private:
    bool take(char* buf, size_t limit, const char* what) {
        while (p_ < end_ && is_space(*p_)) ++p_;
        if (p_ >= end_) return false;
        last_start_ = p_;
        size_t n = 0;
        while (p_ < end_ && !is_space(*p_)) {
            if (n < limit) buf[n] = *p_;
            ++n;
            ++p_;
        }
        last_len_ = n;
        buf[n < limit ? n : limit] = '\0';
        if (n > limit && what && problems_) {
            char line[160];
            std::snprintf(line, sizeof line, "a %s of %zu characters was cut to %zu; ", what, n, limit);
            problems_->append(line);
        }
        return true;
    }

    const char* p_;
    const char* end_;
    const char* last_start_ = nullptr;
    size_t last_len_ = 0;
    std::string* problems_;
};

// A whole word as a finite float ("%f" would also take "nan" and "inf",
// which no height step can use).
bool parse_number(const char* word, float& v) {
    char* endp = nullptr;
    errno = 0;
    const float f = std::strtof(word, &endp);
    if (endp == word || *endp != '\0' || !std::isfinite(f)) return false;
    v = f;
    return true;
}

void read_numbers(WordReader& in, float* values) {
    char word[kMaxWord + 1];
    for (int i = 0; i < 8; ++i) {
        if (!in.next(word)) return;
        if (!parse_number(word, values[i])) {
            in.unread();  // read again as an ordinary word
            return;
        }
    }
}

}  // namespace

void parse_insole_parameters(const char* data, size_t size, Handoff& out, std::string* problems, FILE* console) {
    out.left_found = out.right_found = false;
    out.job_name_read = false;
    out.job_name_broken = false;
    out.line_open = false;
    auto say = [&](const char* text) {
        if (console) std::fputs(text, console);
    };
    WordReader in(data, size, problems);
    char word[kMaxWord + 1];
    while (in.next(word)) {
        // Compared with the word's full length: a NUL byte inside is no end.
        if (in.last_is("left")) {
            out.left_found = true;
            say("FOUND LEFT: \n");
            read_numbers(in, out.left_values);
            for (float v : out.left_values) {
                char num[64];
                std::snprintf(num, sizeof num, "%f ", v);
                say(num);
            }
            out.line_open = true;
        } else if (in.last_is("right")) {
            out.right_found = true;
            say("FOUND RIGHT: \n");
            out.line_open = false;
            read_numbers(in, out.right_values);
            char name[kMaxJobName + 1];
            bool too_long = false;
            if (in.next_name(name, too_long)) {
                if (too_long) {
                    // Never a cut name: it could collide with another job's files.
                    if (problems) problems->append("the job name is longer than 130 characters; ");
                    out.job_name[0] = '\0';
                    out.job_name_broken = true;
                } else if (std::strlen(name) != in.last_length()) {
                    if (problems) problems->append("the job name holds a NUL byte; ");
                    out.job_name[0] = '\0';
                    out.job_name_broken = true;
                } else {
                    std::memcpy(out.job_name, name, sizeof name);
                    out.job_name_broken = false;
                }
                out.job_name_read = true;
            }
        }
    }
    if (console) std::fflush(console);
}

bool read_insole_parameters_file(const std::string& path, Handoff& out, std::string* problems, FILE* console) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (problems) problems->append("cannot be opened; ");
        return false;
    }
    static char buf[65536 + 1];
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    if (n > 65536) {
        if (problems) problems->append("is larger than 64 KiB; ");
        return false;
    }
    parse_insole_parameters(buf, n, out, problems, console);
    return true;
}

bool job_name_usable(const char* name, std::string* why) {
    auto refuse = [&](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    const size_t n = strnlen(name, kMaxJobName + 1);
    if (n > kMaxJobName) return refuse("it is longer than 130 characters");
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '\\') return refuse("it holds a path separator");
        if (c == ':') return refuse("it holds a drive colon");
        if (c < 0x20 || c == 0x7f) return refuse("it holds a control character");
    }
    if (std::strstr(name, "..")) return refuse("it holds \"..\"");
    return true;
}

}  // namespace fitmire
