// po/pt_BR.po as msgfmt compiles it, built into the program (generated at
// build time: no gettext library is needed where it runs).
#pragma once

#include <cstddef>

namespace kronex::cli {

extern const unsigned char kCataloguePtBr[];
extern const std::size_t kCataloguePtBrSize;

} // namespace kronex::cli
