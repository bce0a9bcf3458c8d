// libFuzzer target for the registry reader: any bytes either read or raise the reader's
// error; a failed read leaves the root cleared; what was read writes and reads back stably.
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
    // Write what was read and read it again: must not crash. Names may merge on the first
    // round (two attribute names that differ only in characters that become "_"), so the
    // written text must be stable from the second round on.
    if (Reader.Root()) {
        QStringList Lines = TElementXmlWriter(Reader.Root()).DocumentLines();
        for (int Round = 0; Round < 2; ++Round) {
            TPlainXmlReader Again;
            try {
                Again.LoadFromStrings(Lines);
            } catch (const EkivXmlException&) {
                return 0; // names with markup characters are not escaped by design
            }
            if (!Again.Root())
                Fail();
            const QStringList Next = TElementXmlWriter(Again.Root()).DocumentLines();
            if (Round == 1 && Next != Lines)
                Fail();
            Lines = Next;
        }
    }
    return 0;
}
