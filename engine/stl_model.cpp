// The STL reader (binary and ASCII), the text writer behind "Save STL", and
// the 3-D view's model drawing.
#include "engine/stl_model.h"

#include <GL/glew.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/params.h"
#include "platform/platform.h"

namespace engine {

namespace {

// ---- words -----------------------------------------------------------------

// Whitespace-delimited words of a stream, as scanf's "%s" sees them, held in a
// bounded buffer: a longer word is reported, never stored past the buffer.
class WordReader {
public:
    explicit WordReader(std::FILE* f) : f_(f) {}

    enum Result { word, end, too_long };

    Result next(size_t limit = STL_MAX_WORD) {
        int c;
        do {
            c = std::getc(f_);
            if (c == '\n') ++line_;
        } while (c != EOF && std::isspace(c));
        if (c == EOF) return end;
        word_line_ = line_;
        len_ = 0;
        bool over = false;
        while (c != EOF && !std::isspace(c)) {
            if (len_ < limit)
                buf_[len_++] = static_cast<char>(c);
            else
                over = true;
            c = std::getc(f_);
        }
        if (c == '\n') ++line_;
        buf_[len_] = '\0';
        return over ? too_long : word;
    }

    const char* text() const { return buf_; }
    bool is(const char* s) const { return std::strcmp(buf_, s) == 0; }
    int line() const { return word_line_; }  // where the last word began

private:
    std::FILE* f_;
    char buf_[STL_MAX_WORD + 1] = {};
    size_t len_ = 0;
    int line_ = 1;
    int word_line_ = 1;
};

bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool finite(const MeshTriangle& t) { return finite(t.a) && finite(t.b) && finite(t.c); }

void append(Mesh& model, ModelBox& box, const MeshTriangle& t) {
    box.widen(t.a);
    box.widen(t.b);
    box.widen(t.c);
    model.push_back(t);
}

float le_float(const unsigned char* p) {
    const uint32_t u = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                       static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// Bytes in the stream, or -1 when it cannot be measured.
long stream_size(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    std::rewind(f);
    return size;
}

void refuse(Mesh& model, ModelBox& box, StlReadResult& res) {
    model.clear();
    box.reset();
    res.status = StlStatus::refused;
    res.triangles = 0;
}

// ---- binary ------------------------------------------------------------------

void read_binary(std::FILE* f, const std::string& name, uint32_t count, long size, Mesh& model, ModelBox& box,
                 StlReadResult& res) {
    std::printf("This is a \"Binary\" File  \n");
    res.binary = true;
    if (size >= 0 && size < 84) {
        std::printf("STL file %s: %ld bytes, too short for a binary STL (needs 84): refused\n", name.c_str(), size);
        refuse(model, box, res);
        return;
    }
    // Room is reserved only for the records the file really holds.
    if (size >= 84) {
        const uint64_t held = static_cast<uint64_t>(size - 84) / 50;
        model.reserve(static_cast<size_t>(held < count ? held : count));
    }
    if (std::fseek(f, 84, SEEK_SET) != 0) {
        std::printf("STL file %s: cannot reach the first triangle record: refused\n", name.c_str());
        refuse(model, box, res);
        return;
    }
    uint32_t read = 0;
    size_t skipped = 0;
    unsigned char rec[50];
    for (; read < count; ++read) {
        if (std::fread(rec, 1, sizeof rec, f) != sizeof rec) break;
        MeshTriangle t;
        t.a = {le_float(rec + 12), le_float(rec + 16), le_float(rec + 20)};
        t.b = {le_float(rec + 24), le_float(rec + 28), le_float(rec + 32)};
        t.c = {le_float(rec + 36), le_float(rec + 40), le_float(rec + 44)};
        if (!finite(t)) {
            ++skipped;
            continue;
        }
        append(model, box, t);
    }
    std::printf("x range %f \n", std::fabs(box.model_max_x - box.model_min_x));
    std::printf("y range %f \n", std::fabs(box.model_max_y - box.model_min_y));
    std::printf("z range %f \n", std::fabs(box.model_max_z - box.model_min_z));
    if (read < count) {
        std::printf("STL file %s: announces %u triangles but ends after %u: the %u read are kept\n", name.c_str(),
                    count, read, read);
        res.status = StlStatus::partial;
    }
    if (skipped) {
        std::printf("STL file %s: %zu triangles with coordinates that are not finite numbers skipped\n",
                    name.c_str(), skipped);
        res.status = StlStatus::partial;
    }
}

// ---- ASCII -------------------------------------------------------------------

void read_ascii(std::FILE* f, const std::string& name, Mesh& model, ModelBox& box, StlReadResult& res) {
    std::printf("This is a \"ASCII\" File  \n");
    std::rewind(f);
    WordReader words(f);
    size_t skipped = 0;
    for (;;) {
        WordReader::Result r = words.next();
        if (r == WordReader::end) break;
        if (r == WordReader::too_long) {
            std::printf("STL file %s: line %d holds a word longer than %zu characters: refused\n", name.c_str(),
                        words.line(), STL_MAX_WORD);
            refuse(model, box, res);
            return;
        }
        if (words.is("endsolid")) break;
        if (!words.is("vertex")) continue;

        // Three numbers, a word, three numbers, a word, three numbers.
        float v[9];
        for (int i = 0; i < 9 && r != WordReader::end; ++i) {
            if (i == 3 || i == 6) r = words.next();  // whatever word stands between
            if (r != WordReader::end && r != WordReader::too_long) r = words.next();
            if (r == WordReader::end) break;
            if (r == WordReader::too_long) {
                std::printf("STL file %s: line %d holds a word longer than %zu characters: refused\n",
                            name.c_str(), words.line(), STL_MAX_WORD);
                refuse(model, box, res);
                return;
            }
            char* stop = nullptr;
            v[i] = std::strtof(words.text(), &stop);
            if (stop == words.text() || *stop != '\0') {
                std::printf("STL file %s: line %d: a vertex needs three numbers: refused\n", name.c_str(),
                            words.line());
                refuse(model, box, res);
                return;
            }
            if (i == 8) {
                const MeshTriangle t{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, {v[6], v[7], v[8]}};
                if (finite(t))
                    append(model, box, t);
                else
                    ++skipped;
            }
        }
        if (r == WordReader::end) {
            std::printf("STL file %s: ends inside a triangle: the %zu triangles before it are kept\n", name.c_str(),
                        model.size());
            res.status = StlStatus::partial;
            break;
        }
    }
    if (skipped) {
        std::printf("STL file %s: %zu triangles with coordinates that are not finite numbers skipped\n",
                    name.c_str(), skipped);
        res.status = StlStatus::partial;
    }
}

}  // namespace

// ---- reading -----------------------------------------------------------------

StlReadResult read_stl_stream(std::FILE* f, const std::string& name, Mesh& model, ModelBox& box) {
    StlReadResult res;
    model.clear();
    box.reset();
    if (!f) return res;
    res.status = StlStatus::ok;
    const long size = stream_size(f);

    unsigned char head[84] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    char header[81] = {};
    std::memcpy(header, head, got < 80 ? got : 80);  // cut at the first zero byte by %s
    std::printf("Header %s\n", header);
    const uint32_t count = got == 84 ? static_cast<uint32_t>(head[80]) | static_cast<uint32_t>(head[81]) << 8 |
                                           static_cast<uint32_t>(head[82]) << 16 |
                                           static_cast<uint32_t>(head[83]) << 24
                                     : 0;

    // ASCII when the word after the first line feed is "facet".
    std::rewind(f);
    int c;
    do c = std::getc(f);
    while (c != EOF && c != '\n');
    WordReader first(f);
    const bool ascii = first.next(5) == WordReader::word && first.is("facet");

    if (ascii) {
        read_ascii(f, name, model, box, res);
    } else if (got < 84 && size < 0) {
        std::printf("STL file %s: too short for a binary STL (needs 84 bytes): refused\n", name.c_str());
        refuse(model, box, res);
        res.binary = true;
    } else {
        read_binary(f, name, count, size < 0 ? static_cast<long>(got) : size, model, box, res);
    }
    res.triangles = model.size();
    return res;
}

StlReadResult read_stl_file(const std::string& path, Mesh& model, ModelBox& box) {
    model.clear();
    box.reset();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::printf("STL file %s does not open\n", path.c_str());
        return StlReadResult();
    }
    StlReadResult res = read_stl_stream(f, path, model, box);
    std::fclose(f);
    return res;
}

bool stl_path_fits(const std::string& path) {
    if (path.empty()) {
        std::printf("STL file name is empty\n");
        return false;
    }
    if (path.size() > STL_MAX_PATH) {
        std::printf("STL file name is longer than %zu bytes: refused\n", STL_MAX_PATH);
        return false;
    }
    return true;
}

void stl_heel_point(const ModelBox& box, float heel_point[2]) {
    heel_point[0] = (300 - std::fabs(box.model_max_x - box.model_min_x)) * 0.5f;
    heel_point[1] = (360 - std::fabs(box.model_max_y - box.model_min_y)) * 0.5f;
}

bool load_stl_file(const std::string& utf8_path, Mesh& model, ModelBox& box, LayerRaster& raster,
                   float heel_point[2]) {
    const std::string path = platform::utf8_to_ansi(utf8_path);
    if (!stl_path_fits(path)) return false;  // refused before anything is lost
    const StlReadResult res = read_stl_file(path, model, box);
    if (!res.loaded()) return false;
    if (!pon(ck_fixed_position)) stl_heel_point(box, heel_point);
    raster.height_request = 1;
    return true;
}

// ---- writing -----------------------------------------------------------------

bool write_stl_text(const std::string& path, const Mesh& model) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::printf("STL file %s cannot be opened for writing\n", path.c_str());
        return false;
    }
    std::fprintf(f, "solid STL\n");
    for (const MeshTriangle& t : model) {
        std::fprintf(f, "facet normal 0 0 0\n");
        std::fprintf(f, "outer loop\n");
        std::fprintf(f, "\tvertex %f %f %f\n", t.a.x, t.a.y, t.a.z);
        std::fprintf(f, "\tvertex %f %f %f\n", t.b.x, t.b.y, t.b.z);
        std::fprintf(f, "\tvertex %f %f %f\n", t.c.x, t.c.y, t.c.z);
        std::fprintf(f, "endloop\n");
        std::fprintf(f, "endfacet\n");
    }
    std::fprintf(f, "endsolid\n");
    const bool write_failed = std::ferror(f) != 0;
    const bool close_failed = std::fclose(f) != 0;
    if (write_failed || close_failed) {
        std::printf("STL file %s could not be written completely\n", path.c_str());
        return false;
    }
    return true;
}

// ---- drawing -------------------------------------------------------------------

void draw_model(const Mesh& model) {
    if (pon(bt_save_stl)) {
        write_stl_text("123.stl", model);
        params().set_value(bt_save_stl, 0);
        params().redraw(bt_save_stl);
    }
    // One vertex array with each triangle's face normal at its three
    // corners: the same picture as a vertex at a time, in far fewer calls.
    static std::vector<Vec3> normals;
    normals.resize(model.size() * 3);
    for (size_t i = 0; i < model.size(); ++i) {
        const MeshTriangle& t = model[i];
        const float ux = t.b.x - t.a.x, uy = t.b.y - t.a.y, uz = t.b.z - t.a.z;
        const float vx = t.c.x - t.a.x, vy = t.c.y - t.a.y, vz = t.c.z - t.a.z;
        const Vec3 n{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
        normals[3 * i] = normals[3 * i + 1] = normals[3 * i + 2] = n;
    }
    glEnable(GL_NORMALIZE);
    glPushMatrix();
    glColor3f(0.7f, 0.7f, 0);
    if (!model.empty()) {
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glVertexPointer(3, GL_FLOAT, sizeof(Vec3), model.data());
        glNormalPointer(GL_FLOAT, sizeof(Vec3), normals.data());
        glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(model.size() * 3));
        glPopClientAttrib();
    }
    glPopMatrix();
    glDisable(GL_NORMALIZE);
}

}  // namespace engine
