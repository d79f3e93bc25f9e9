// A yes-or-no question to the technician on the terminal (update's and
// restore's): the answer read as typed, and Ctrl-C heard while it waits.
#pragma once

#include <string>
#include <string_view>

namespace kronex::cli {

enum class Reply { Yes, No, Unclear };

// In any case, with spaces around: s, sim, y, yes are Yes; n, não, nao, no
// are No; anything else (an empty line too) is Unclear.
Reply parseReply(std::string_view line);

enum class Answer { Go, Decline, Interrupted };

// Writes `question` on standard error and waits for a line on standard input
// and for Ctrl-C (or a hang-up, or a stop) at once, whichever comes first.
// An unclear reply is asked once more with the accepted answers named; a
// second one, or the end of the input, declines.
Answer ask(const std::string& question);

} // namespace kronex::cli
