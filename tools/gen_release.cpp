// Writes the sample release: the shape of a shipped release (1003 entries,
// 22 module lines, six main-image segments, 18 makers, 50 data sections,
// two target-1 segments) with made-up names and pseudo-random image bytes.
// Deterministic: the same program always writes the same file.
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

class Writer {
  public:
    explicit Writer(std::ostream& out) : out_(out) {}

    void entry(const std::string& text) {
        if (!text.empty())
            out_ << id_ << '\t' << text << '\n';
        ++id_;
    }
    void skipTo(int id) { id_ = id; }
    int next() const { return id_; }

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
    std::uint64_t state_ = 0x4B524F4E45580125ULL;
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

// 2 sections, one per maker but the last, 3 sections, then 28 more: 626 lines.
const std::vector<int> kSectionLines = {
    4,  2,                                                                  //
    15, 12, 18, 9,  14, 11, 16, 13, 10, 17, 12, 15, 8,  14, 11, 13, 16,     //
    6,  5,  0,                                                              //
    12, 9,  14, 7,  11, 10, 13, 8,  12, 15, 9,  11, 10, 6,  14, 12, 9,  13, //
    11, 10, 8,  12, 14, 9,  11, 10, 7,  98,
};

void writeRelease(std::ostream& out) {
    Writer w(out);
    w.entry("10/10/2012");
    w.entry("Firmware versão 1.25");
    w.entry("25");
    for (const char* line : kModuleLines)
        w.entry(line);
    w.skipTo(45); // 26 to 44 stay absent: empty lines in the module list
    w.entry("*");
    for (const char* address : {"4000", "B000", "D000", "2400", "4000", "4200"})
        w.entry(address);
    w.entry("*");
    for (const int lines : {1, 13, 0, 22, 2, 32})
        w.run(lines);
    w.entry("**");
    w.entry("0000");
    w.entry("FFFF");
    w.entry("8000");
    w.entry("7000");
    for (const char* maker : kMakers)
        w.entry(maker);
    w.entry("*");
    for (const int lines : kSectionLines)
        w.run(lines);
    w.entry("BMP");
    w.entry("*");
    w.run(3);
    w.run(165);
    w.hexLine(); // target-1 top block
    w.entry("*");
    w.entry("FIM");
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: " << argv[0] << " [OUTPUT]   (standard output without OUTPUT)\n";
        return 2;
    }
    if (argc == 2) {
        std::ofstream file(argv[1], std::ios::binary);
        writeRelease(file);
        return file ? 0 : 1;
    }
    writeRelease(std::cout);
    return std::cout ? 0 : 1;
}
