// libFuzzer target for the registry reader: any bytes either read or raise the reader's
// error; a failed read leaves the root cleared; what was read writes and reads back.
#include "kiv_XmlObjects.h"

#include <cstdint>
#include <cstdlib>

namespace {

[[noreturn]] void Fail() {
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const QByteArray Bytes(reinterpret_cast<const char*>(Data), qsizetype(Size));
    TPlainXmlReader Reader;
    try {
        Reader.LoadFromBytes(Bytes);
    } catch (const EkivXmlException&) {
        if (Reader.Root() &&
            (Reader.Root()->ChildCount() != 0 || Reader.Root()->AttributeCount() != 0))
            Fail();
        return 0;
    }
    // Write what was read and read it again: must not crash; the writer's output of a tree
    // whose names are plain reads back to the same lines.
    if (Reader.Root()) {
        TElementXmlWriter Writer(Reader.Root());
        const QStringList Lines = Writer.DocumentLines();
        TPlainXmlReader Again;
        try {
            Again.LoadFromStrings(Lines);
        } catch (const EkivXmlException&) {
            return 0; // names with markup characters are not escaped by design
        }
        if (Again.Root()) {
            TElementXmlWriter Writer2(Again.Root());
            if (Writer2.DocumentLines() != Lines)
                Fail();
        }
    }
    return 0;
}
