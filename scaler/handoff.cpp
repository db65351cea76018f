// The hand-off file reader and the judgement of a record's numbers.
#include "handoff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/file_util.h"

namespace fitmire {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Walks the buffer word by word; words are cut at kMaxWord characters, the rest
// of an over-long word is skipped. A word that was not consumed (a record
// word that cut the record before it) is handed out again by the next call.
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
    bool last_is_record_word() const { return last_is("left") || last_is("right"); }

private:
    bool take(char* buf, size_t limit, const char* what) {
        while (p_ < end_ && is_space(*p_)) ++p_;
        if (p_ >= end_) {
            last_len_ = 0;
            return false;
        }
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

std::string shown(float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// Reads a record's eight number places into values; each place is one word,
// so a word that is no number costs its own place only. Empty when all eight
// are numbers, otherwise why not. The end of the file or a record word cuts
// the record (`cut`); the record word is left for the caller.
std::string read_places(WordReader& in, float* values, bool& cut) {
    char word[kMaxWord + 1];
    std::string why;
    cut = false;
    for (int i = 0; i < 8; ++i) {
        if (!in.next(word)) {
            cut = true;
        } else if (in.last_is_record_word()) {
            in.unread();
            cut = true;
        }
        if (cut) return "it ends after " + std::to_string(i) + " of its eight numbers";
        float v = 0;
        if (in.last_length() > static_cast<size_t>(kMaxWord) || !read_number(word, v)) {
            if (why.empty()) why = "its number " + std::to_string(i + 1) + " \"" + word + "\" is no number";
            continue;
        }
        values[i] = v;
    }
    return why;
}

// Reads one record's numbers and judges them; the values change only for a
// usable record. `shown` gets the numbers as read, for the console.
void read_record(WordReader& in, float* values, std::string& refused, bool& cut, float* shown_values) {
    std::memcpy(shown_values, values, 8 * sizeof(float));
    refused = read_places(in, shown_values, cut);
    if (refused.empty()) refused = record_refusal(shown_values);
    if (refused.empty()) std::memcpy(values, shown_values, 8 * sizeof(float));
}

}  // namespace

bool read_number(const char* word, float& v) {
    char* endp = nullptr;
    errno = 0;
    const float f = std::strtof(word, &endp);
    if (endp == word || *endp != '\0') return false;
    v = f;
    return true;
}

std::string record_refusal(const float* values) {
    const float arch = values[0], length = values[1];
    if (!std::isfinite(arch) || !std::isfinite(length))
        return "its arch index " + shown(arch) + " or foot length " + shown(length) + " is no finite number";
    if (!(length > 0)) return "its foot length " + shown(length) + " mm is not positive";
    if (!(length + 10.0f <= kMaxFootLength + 10.0f))
        return "its foot length " + shown(length) + " mm makes an insole longer than the 360-row image";
    // A length given in centimetres would make a stub the path program refuses.
    if (!(length + 10.0f >= kMinInsoleRows))
        return "its foot length " + shown(length) + " mm makes an insole shorter than the " +
               std::to_string(kMinInsoleRows) + " rows the path program prints";
    return "";
}

void parse_insole_parameters(const char* data, size_t size, Handoff& out, std::string* problems, FILE* console) {
    out.left_found = out.right_found = false;
    out.left_refused.clear();
    out.right_refused.clear();
    out.job_name_read = false;
    out.job_name_broken = false;
    out.job_name_text.clear();
    out.line_open = false;
    out.file_refused.clear();
    auto refuse_file = [&](const std::string& why) {
        if (out.file_refused.empty()) out.file_refused = why;
    };
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        data += 3;
        size -= 3;
    }
    auto say = [&](const char* text) {
        if (console) std::fputs(text, console);
    };
    WordReader in(data, size, problems);
    char word[kMaxWord + 1];
    float read[8];
    bool cut = false;
    while (in.next(word)) {
        // Compared with the word's full length: a NUL byte inside is no end.
        if (in.last_is("left")) {
            // A second job in one file would silently replace the first.
            if (out.left_found) refuse_file("it holds a second \"left\" record");
            out.left_found = true;
            say("FOUND LEFT: \n");
            read_record(in, out.left_values, out.left_refused, cut, read);
            if (cut) refuse_file("its \"left\" record is cut short (" + out.left_refused + ")");
            for (float v : read) {
                char num[64];
                std::snprintf(num, sizeof num, "%f ", v);
                say(num);
            }
            out.line_open = true;
        } else if (in.last_is("right")) {
            if (out.right_found) refuse_file("it holds a second \"right\" record");
            out.right_found = true;
            say("FOUND RIGHT: \n");
            out.line_open = false;
            read_record(in, out.right_values, out.right_refused, cut, read);
            if (cut) {  // the name's place never came
                refuse_file("its \"right\" record is cut short (" + out.right_refused + ")");
                continue;
            }
            // The name's place follows the eight number places, whatever they held.
            char name[kMaxJobName + 1];
            bool too_long = false;
            if (!in.next_name(name, too_long)) {
                refuse_file("its \"right\" record ends before the job name");
                continue;
            }
            if (in.last_is_record_word()) {
                in.unread();
                refuse_file("its \"right\" record ends before the job name");
                continue;
            }
            out.job_name_text.assign(name, std::strlen(name));
            if (too_long) out.job_name_text += "...";
            if (too_long) {
                // Never a cut name: it could collide with another job's files.
                if (problems) problems->append("the job name is longer than " + std::to_string(kMaxJobName) + " bytes; ");
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
        } else {
            // Not skipped: a record word the reader does not know ("Left", one
            // glued to other bytes) would lose that record's side unseen.
            std::string shown_word(word, std::strlen(word));
            if (in.last_length() > shown_word.size()) shown_word += "...";
            refuse_file("the word \"" + shown_word + "\" belongs to no record");
        }
    }
    if (!out.left_found) refuse_file("it has no \"left\" record");
    if (!out.right_found) refuse_file("it has no \"right\" record");
    if (console) std::fflush(console);
}

bool handoff_waiting(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return true;  // taken, to be refused
    FILE* f = std::fopen(path.c_str(), "r");
    if (f) std::fclose(f);
    return f != nullptr;
}

bool read_insole_parameters_file(const std::string& path, Handoff& out, std::string* problems, FILE* console) {
    // A FIFO or a device in the file's place must not hold the program: it
    // is opened without waiting for a writer and then refused.
    std::string kind;
    uint64_t size = 0;
    const int fd = common::open_plain_file(path, kind, size);
    if (!kind.empty()) {
        if (problems) problems->append("is no plain file; ");
        return false;
    }
    FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!f) {
        if (fd >= 0) ::close(fd);
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

}  // namespace fitmire
