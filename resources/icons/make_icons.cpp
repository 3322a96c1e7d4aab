// Renders the icon description (velkor.icons) into .ico files.
//   make_icons SOURCE OUTDIR          write every icon the source declares
//   make_icons --check SOURCE DIR     exit 1 when a file in DIR differs
//   make_icons --pam SOURCE SIZE OUT  one SIZE x SIZE image with alpha, as PAM
//                                     (the web page's icons, made into PNG)
// The .ico files are checked in, so the Windows build needs no host tool; the
// check keeps them equal to what the description makes.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kUnits = 48.0;  // the drawing's square
constexpr int kSamples = 8;      // per pixel and axis

struct Rgb {
    double r = 0, g = 0, b = 0;
};

struct Shape {
    enum Kind { kRect, kRound, kDisc, kPoly } kind = kRect;
    std::vector<double> v;  // coordinates, as the line gives them
    Rgb color;
    int minSize = 0;
    int maxSize = 1 << 30;
};

struct Image {
    int size = 0;
    int bits = 0;
};

struct Icon {
    std::string file;
    std::vector<Image> images;
};

struct Drawing {
    std::vector<Shape> shapes;
    std::vector<Icon> icons;
};

bool Fail(const std::string& where, const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", where.c_str(), what.c_str());
    return false;
}

bool ParseColor(const std::string& text, Rgb& out)
{
    if (text.size() != 7 || text[0] != '#')
        return false;
    unsigned value = 0;
    if (std::sscanf(text.c_str() + 1, "%6x", &value) != 1)
        return false;
    out = {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0};
    return true;
}

// What earlier lines set for the ones after them.
struct ParseState {
    std::map<std::string, Rgb> colors;
    int minSize = 0;
    int maxSize = 1 << 30;
};

bool ParseIcon(std::istringstream& words, const std::string& where, Drawing& drawing)
{
    Icon icon;
    if (!(words >> icon.file))
        return Fail(where, "expected: icon FILE SIZExBITS ...");
    std::string entry;
    while (words >> entry) {
        Image image;
        if (std::sscanf(entry.c_str(), "%dx%d", &image.size, &image.bits) != 2 || image.size < 1 ||
            image.size > 255 || (image.bits != 4 && image.bits != 8 && image.bits != 24))
            return Fail(where, "bad image \"" + entry + "\": SIZExBITS, bits 4, 8 or 24");
        icon.images.push_back(image);
    }
    if (icon.images.empty())
        return Fail(where, "an icon needs at least one image");
    drawing.icons.push_back(icon);
    return true;
}

// The shape a verb draws and how many numbers it takes; 0 for a polygon's
// pairs, which run up to its colour.
bool ShapeKind(const std::string& verb, Shape::Kind& kind, size_t& count)
{
    if (verb == "rect") {
        kind = Shape::kRect;
        count = 4;
    } else if (verb == "round") {
        kind = Shape::kRound;
        count = 5;
    } else if (verb == "disc") {
        kind = Shape::kDisc;
        count = 3;
    } else if (verb == "poly") {
        kind = Shape::kPoly;
        count = 0;
    } else {
        return false;
    }
    return true;
}

bool ParseShape(const std::string& verb, std::istringstream& words, const std::string& where,
                const ParseState& state, Drawing& drawing)
{
    Shape shape;
    shape.minSize = state.minSize;
    shape.maxSize = state.maxSize;
    std::string colorName;
    size_t count = 0;
    if (!ShapeKind(verb, shape.kind, count))
        return Fail(where, "unknown word \"" + verb + "\"");
    if (shape.kind == Shape::kPoly)
        words >> colorName;
    double value = 0;
    while ((count == 0 || shape.v.size() < count) && words >> value)
        shape.v.push_back(value);
    if (shape.kind != Shape::kPoly) {
        words.clear();
        words >> colorName;
    }
    if ((count != 0 && shape.v.size() != count) ||
        (shape.kind == Shape::kPoly && (shape.v.size() < 6 || shape.v.size() % 2 != 0)))
        return Fail(where, "wrong number of coordinates for " + verb);
    const auto c = state.colors.find(colorName);
    if (c == state.colors.end())
        return Fail(where, "unknown color \"" + colorName + "\"");
    shape.color = c->second;
    drawing.shapes.push_back(shape);
    return true;
}

bool ParseLine(const std::string& line, const std::string& where, ParseState& state, Drawing& drawing)
{
    std::istringstream words(line);
    std::string verb;
    if (!(words >> verb) || verb[0] == '#')  // blank or a comment
        return true;
    if (verb == "color") {
        std::string name, value;
        Rgb rgb;
        if (!(words >> name >> value) || !ParseColor(value, rgb))
            return Fail(where, "expected: color NAME #rrggbb");
        state.colors[name] = rgb;
        return true;
    }
    if (verb == "sizes") {
        if (!(words >> state.minSize >> state.maxSize) || state.minSize > state.maxSize)
            return Fail(where, "expected: sizes MIN MAX");
        return true;
    }
    if (verb == "icon")
        return ParseIcon(words, where, drawing);
    return ParseShape(verb, words, where, state, drawing);
}

bool Parse(const std::string& path, Drawing& drawing)
{
    std::ifstream in(path);
    if (!in)
        return Fail(path, "cannot read");
    ParseState state;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!ParseLine(line, path + ":" + std::to_string(number), state, drawing))
            return false;
    }
    if (drawing.icons.empty())
        return Fail(path, "declares no icon");
    return true;
}

bool Inside(const Shape& s, double x, double y)
{
    const auto& v = s.v;
    switch (s.kind) {
    case Shape::kRect:
        return x >= v[0] && x < v[0] + v[2] && y >= v[1] && y < v[1] + v[3];
    case Shape::kRound: {
        if (!(x >= v[0] && x < v[0] + v[2] && y >= v[1] && y < v[1] + v[3]))
            return false;
        const double r = v[4];
        const double cx = std::clamp(x, v[0] + r, v[0] + v[2] - r);
        const double cy = std::clamp(y, v[1] + r, v[1] + v[3] - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
    case Shape::kDisc:
        return (x - v[0]) * (x - v[0]) + (y - v[1]) * (y - v[1]) <= v[2] * v[2];
    case Shape::kPoly: {
        // Even-odd rule.
        bool in = false;
        const size_t n = v.size() / 2;
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            const double xi = v[2 * i], yi = v[2 * i + 1], xj = v[2 * j], yj = v[2 * j + 1];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
                in = !in;
        }
        return in;
    }
    }
    return false;
}

// Straight colours after compositing, and whether each pixel is opaque.
struct Pixels {
    int size = 0;
    std::vector<Rgb> color;
    std::vector<bool> opaque;
    std::vector<double> alpha;
};

Pixels Render(const Drawing& drawing, int size)
{
    Pixels out;
    out.size = size;
    out.color.resize(static_cast<size_t>(size) * size);
    out.opaque.resize(static_cast<size_t>(size) * size);
    out.alpha.resize(static_cast<size_t>(size) * size);
    const double scale = kUnits / size;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Rgb premultiplied;
            double alpha = 0;
            for (const Shape& s : drawing.shapes) {
                if (size < s.minSize || size > s.maxSize)
                    continue;
                int hits = 0;
                for (int sy = 0; sy < kSamples; ++sy)
                    for (int sx = 0; sx < kSamples; ++sx)
                        hits += Inside(s, (px + (sx + 0.5) / kSamples) * scale, (py + (sy + 0.5) / kSamples) * scale);
                const double a = static_cast<double>(hits) / (kSamples * kSamples);
                premultiplied.r = premultiplied.r * (1 - a) + s.color.r * a;
                premultiplied.g = premultiplied.g * (1 - a) + s.color.g * a;
                premultiplied.b = premultiplied.b * (1 - a) + s.color.b * a;
                alpha = alpha * (1 - a) + a;
            }
            const size_t i = static_cast<size_t>(py) * size + px;
            // An .ico mask is all or nothing: half-covered edge pixels count.
            out.opaque[i] = alpha >= 0.5;
            out.alpha[i] = alpha;
            if (alpha > 0)
                out.color[i] = {premultiplied.r / alpha, premultiplied.g / alpha, premultiplied.b / alpha};
        }
    }
    return out;
}

using Palette = std::vector<std::array<uint8_t, 3>>;

Palette Vga16()
{
    return {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
            {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
}

// The 16 VGA colours, a 6 x 6 x 6 cube and 24 greys.
Palette Palette256()
{
    Palette p = Vga16();
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p.push_back({static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51)});
    for (int i = 0; i < 24; ++i)
        p.push_back({static_cast<uint8_t>(8 + 10 * i), static_cast<uint8_t>(8 + 10 * i), static_cast<uint8_t>(8 + 10 * i)});
    return p;
}

std::array<uint8_t, 3> Bytes8(const Rgb& c)
{
    auto to8 = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return {to8(c.r), to8(c.g), to8(c.b)};
}

uint8_t Nearest(const Palette& palette, const std::array<uint8_t, 3>& c)
{
    size_t best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < palette.size(); ++i) {
        long d = 0;
        for (int k = 0; k < 3; ++k) {
            const long diff = static_cast<long>(palette[i][k]) - c[k];
            d += diff * diff;
        }
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return static_cast<uint8_t>(best);
}

void Put16(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One image as an .ico stores it: BITMAPINFOHEADER of double height, palette,
// colour rows and mask rows, both bottom-up and padded to 4 bytes.
std::vector<uint8_t> EncodeImage(const Pixels& px, int bits)
{
    const int size = px.size;
    const Palette palette = bits == 4 ? Vga16() : bits == 8 ? Palette256() : Palette();
    const size_t colorStride = ((static_cast<size_t>(size) * bits + 31) / 32) * 4;
    const size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size * 2));
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(bits));
    Put32(out, 0);  // BI_RGB
    Put32(out, static_cast<uint32_t>((colorStride + maskStride) * size));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(palette.size()));
    Put32(out, 0);
    for (const auto& c : palette) {
        out.push_back(c[2]);
        out.push_back(c[1]);
        out.push_back(c[0]);
        out.push_back(0);
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(colorStride, 0);
        for (int x = 0; x < size; ++x) {
            const size_t i = static_cast<size_t>(y) * size + x;
            // Transparent pixels are black in the colour plane, so the mask
            // alone decides what shows through.
            const std::array<uint8_t, 3> c = px.opaque[i] ? Bytes8(px.color[i]) : std::array<uint8_t, 3>{0, 0, 0};
            if (bits == 24) {
                row[3 * x] = c[2];
                row[3 * x + 1] = c[1];
                row[3 * x + 2] = c[0];
            } else if (bits == 8) {
                row[x] = Nearest(palette, c);
            } else {
                row[x / 2] |= static_cast<uint8_t>(Nearest(palette, c) << (x % 2 == 0 ? 4 : 0));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < size; ++x)
            if (!px.opaque[static_cast<size_t>(y) * size + x])
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> EncodeIcon(const Drawing& drawing, const Icon& icon)
{
    std::vector<std::vector<uint8_t>> images;
    for (const Image& image : icon.images)
        images.push_back(EncodeImage(Render(drawing, image.size), image.bits));

    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);  // icon
    Put16(out, static_cast<unsigned>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const Image& image = icon.images[i];
        out.push_back(static_cast<uint8_t>(image.size));
        out.push_back(static_cast<uint8_t>(image.size));
        out.push_back(static_cast<uint8_t>(image.bits == 4 ? 16 : 0));
        out.push_back(0);
        Put16(out, 1);
        Put16(out, static_cast<unsigned>(image.bits));
        Put32(out, static_cast<uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Edge pixels keep their coverage here, where there is an alpha channel.
bool WritePam(const Drawing& drawing, int size, const std::string& path)
{
    const Pixels px = Render(drawing, size);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P7\nWIDTH " << size << "\nHEIGHT " << size << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (size_t i = 0; i < px.color.size(); ++i) {
        const std::array<uint8_t, 3> c = Bytes8(px.color[i]);
        out.write(reinterpret_cast<const char*>(c.data()), 3);
        out.put(static_cast<char>(std::lround(px.alpha[i] * 255)));
    }
    if (!out)
        return Fail(path, "cannot write");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--pam") {
        Drawing drawing;
        const int size = std::atoi(argv[3]);
        if (size < 1 || size > 4096) {
            Fail(argv[3], "SIZE must be 1 to 4096");
            return 2;
        }
        return Parse(argv[2], drawing) && WritePam(drawing, size, argv[4]) ? 0 : 2;
    }
    const bool check = argc == 4 && std::string(argv[1]) == "--check";
    if (argc != 3 && !check) {
        std::fprintf(stderr, "usage: %s SOURCE OUTDIR\n       %s --check SOURCE DIR\n       %s --pam SOURCE SIZE OUT\n",
                     argv[0], argv[0], argv[0]);
        return 2;
    }
    const std::string source = argv[check ? 2 : 1];
    const std::string dir = argv[check ? 3 : 2];
    Drawing drawing;
    if (!Parse(source, drawing))
        return 2;

    int differing = 0;
    for (const Icon& icon : drawing.icons) {
        const std::vector<uint8_t> bytes = EncodeIcon(drawing, icon);
        const std::string path = dir + "/" + icon.file;
        if (check) {
            std::vector<uint8_t> existing;
            if (!ReadFile(path, existing) || existing != bytes) {
                std::fprintf(stderr, "%s is not what %s makes; run scripts/make-icons.sh\n", path.c_str(),
                             source.c_str());
                ++differing;
            }
            continue;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 2;
        }
        std::printf("%s: %zu images, %zu bytes\n", path.c_str(), icon.images.size(), bytes.size());
    }
    return differing == 0 ? 0 : 1;
}
