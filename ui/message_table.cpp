#include "message_table.h"

#include <algorithm>
#include <array>

namespace kronex {

namespace {

constexpr std::array<std::string_view, 6> kIniciarLines = {
    "Para iniciar a atualização do KRONEX, coloque-o",
    "em MODO DE ATUALIZAÇÃO e pressione OK para",
    "iniciar o procedimento.",
    "",
    "MODO DE ATUALIZAÇÃO: ligue o aparelho com a",
    "tecla F2 pressionada.",
};

constexpr std::array<std::string_view, 4> kPortaLines = {
    "Não foi possível abrir a porta serial definida para",
    "a comunicação com o aparelho. Verifique se a porta",
    "está correta ou se ela não está sendo utilizada por",
    "outro software.",
};

constexpr std::array<std::string_view, 2> kVersaoLines = {
    "Esta atualização não pode ser executada neste",
    "aparelho por incompatibilidade de versões.",
};

constexpr std::array<std::string_view, 1> kConcluidoLines = {
    "Atualização concluída com sucesso!!",
};

// Only code 0 is a question; the others can be closed one way only.
constexpr std::array<MessageEntry, 4> kTable = {{
    {MSG_INICIAR, "MSG_INICIAR", "Mensagem", true, true, kIniciarLines},
    {MSG_PORTA, "MSG_PORTA", "Erro de comunicação", false, true, kPortaLines},
    {MSG_VERSAO, "MSG_VERSAO", "Incompatibilidade de Versão", false, true, kVersaoLines},
    {MSG_CONCLUIDO, "MSG_CONCLUIDO", "Mensagem", true, false, kConcluidoLines},
}};

} // namespace

const MessageEntry* findMessage(MessageCode code) {
    const auto* it = std::find_if(kTable.begin(), kTable.end(),
                                  [code](const MessageEntry& e) { return e.code == code; });
    return it == kTable.end() ? nullptr : it;
}

std::span<const MessageEntry> messageTable() {
    return kTable;
}

} // namespace kronex
