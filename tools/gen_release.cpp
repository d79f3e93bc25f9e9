// Writes a release: by default the sample, with the shape of a shipped
// release (1003 entries, 22 module lines, six main-image segments, 18
// makers, 50 data sections, two target-1 segments), made-up names and
// pseudo-random image bytes; options give other shapes (--help).
// Deterministic: the same options always write the same file.
#include "release_shape.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using kronex::gen::ReleaseShape;

class Writer {
  public:
    Writer(std::ostream& out, std::uint64_t seed) : out_(out), state_(seed) {}

    void entry(const std::string& text) {
        if (!text.empty())
            out_ << id_ << '\t' << text << '\n';
        ++id_;
    }
    void skip(int count) { id_ += count; }

    void hexLine() {
        static const char* digits = "0123456789ABCDEF";
        std::string line;
        line.reserve(512);
        for (int i = 0; i < 256; ++i) {
            const auto byte = static_cast<unsigned>(random() & 0xFF);
            line += digits[byte >> 4];
            line += digits[byte & 0xF];
        }
        entry(line);
    }
    void run(int lines) {
        for (int i = 0; i < lines; ++i)
            hexLine();
        entry("*");
    }

  private:
    std::uint64_t random() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_ >> 24;
    }
    std::ostream& out_;
    int id_ = 1;
    std::uint64_t state_;
};

const std::array<const char*, 22> kModuleLines = {
    "Altavex - Injeção eletrônica",
    "Altavex - Freios ABS",
    "Bremora - Injeção e ignição",
    "Bremora - Imobilizador",
    "Corvandi - Airbag",
    "Corvandi - Painel",
    "Dulmara - Injeção diesel",
    "Elvoran - Câmbio automático",
    "Elvoran - Ar condicionado",
    "Galvest - Injeção eletrônica",
    "Harmond - Freios ABS",
    "Istrava - Direção elétrica",
    "Kelvara - Injeção eletrônica",
    "Lumetra - Airbag",
    "Morvane - Imobilizador",
    "Norvessa - Injeção diesel",
    "Ostrelle - Painel",
    "Pradova - Injeção e ignição",
    "Quenlar - Câmbio automático",
    "Rovanta - Freios ABS",
    "Sensores de oxigênio",
    "Leitura de códigos OBD",
};

const std::array<const char*, 18> kMakers = {
    "ALTAVEX",  "BREMORA", "CORVANDI", "DULMARA", "ELVORAN", "GALVEST",
    "HARMOND",  "ISTRAVA", "KELVARA",  "LUMETRA", "MORVANE", "NORVESSA",
    "OSTRELLE", "PRADOVA", "QUENLAR",  "ROVANTA", "SELVANO", "DIAGNOSE GERAL",
};

// The listed names first, then numbered ones.
template <std::size_t N>
std::string nameAt(const std::array<const char*, N>& names, int i, const char* more) {
    if (i < static_cast<int>(N))
        return names[static_cast<std::size_t>(i)];
    return more + std::to_string(i + 1);
}

std::string address(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

void writeRelease(std::ostream& out, const ReleaseShape& shape) {
    Writer w(out, shape.seed);
    w.entry(shape.date);
    w.entry(shape.caption);
    w.entry(std::to_string(shape.number));
    for (int i = 0; i < shape.modules; ++i)
        w.entry(nameAt(kModuleLines, i, "Módulo "));
    w.skip(shape.absent);
    w.entry("*");
    for (const char* text : {"4000", "B000", "D000", "2400", "4000", "4200"})
        w.entry(text);
    w.entry("*");
    for (const int lines : shape.mainSegments)
        w.run(lines);
    w.entry("**");
    w.entry("0000");
    w.entry("FFFF");
    w.entry(address(shape.erase[0]));
    w.entry(address(shape.erase[1]));
    for (int i = 0; i < shape.makers; ++i)
        w.entry(nameAt(kMakers, i, "FABRICANTE "));
    w.entry("*");
    for (const int lines : shape.sections)
        w.run(lines);
    w.entry("BMP");
    w.entry("*");
    for (const int lines : shape.target1Segments)
        w.run(lines);
    w.hexLine(); // target-1 top block
    w.entry("*");
    w.entry("FIM");
}

} // namespace

int main(int argc, char** argv) {
    const auto parsed = kronex::gen::parseShapeArguments({argv + 1, argv + argc});
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::cerr << "kronex-gen-release: " << *problem << "\n" << kronex::gen::kShapeUsage;
        return 2;
    }
    const auto& a = std::get<kronex::gen::ShapeArguments>(parsed);
    if (a.help) {
        std::cout << kronex::gen::kShapeUsage;
        return 0;
    }
    if (!a.output.empty()) {
        std::ofstream file(a.output, std::ios::binary);
        writeRelease(file, a.shape);
        return file ? 0 : 1;
    }
    writeRelease(std::cout, a.shape);
    return std::cout ? 0 : 1;
}
