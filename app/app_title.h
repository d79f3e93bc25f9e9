// The program's title: the main window's caption and its name on the task bar.
#pragma once

namespace kronex {

inline constexpr char kApplicationTitle[] = "Atualização KRONEX";

} // namespace kronex
