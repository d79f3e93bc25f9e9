# Writes a compiled message catalogue (MO) into a C++ source (OUT) as the
# bytes of kCataloguePtBr.
file(READ "${MO}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}" "// Generated from po/pt_BR.po by msgfmt and cli/embed_catalogue.cmake.
#include \"message_catalogue.h\"

namespace kronex::cli {

const unsigned char kCataloguePtBr[] = {
${bytes}};
const std::size_t kCataloguePtBrSize = ${size};

} // namespace kronex::cli
")
