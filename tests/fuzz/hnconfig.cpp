// The importer's HNConfig.xml as the defaults command reads it: the bytes
// of the file judged by the reader (bounds, well-formedness, root), then each
// school configuration sent as setting lines. Besides the corpus test's
// checks (a refusal says where, every school found is a school element), a
// document the reader took keeps within its bounds: depth, attributes of one
// element, elements.
#include "app/BridgeBase.h"
#include "app/HNConfigReader.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/FuzzTargets.h"

namespace {

// Elements below and including `node`; stops the run at the first bound broken.
int CountWithinBounds(const QDomNode &node, int depth)
{
    int elements = 0;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (!child.isElement())
            continue;
        FUZZ_CHECK(depth + 1 <= HNConfigReader::MaxDepth, "a document deeper than the bound was read");
        FUZZ_CHECK(child.attributes().size() <= HNConfigReader::MaxAttributes,
                   "an element with more attributes than the bound was read");
        elements += 1 + CountWithinBounds(child, depth + 1);
    }
    return elements;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static BridgeBase *bridge = new BridgeBase; // its setting lines go nowhere
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const fuzz::Verdict verdict = fuzz::CheckHNConfig(bytes);
    FUZZ_CHECK(verdict.fault.empty(), verdict.fault);

    HNConfigReader reader;
    if (reader.read(bytes) == HNConfigReader::Outcome::Read) {
        QDomDocument document;
        document.setContent(bytes, true);
        FUZZ_CHECK(CountWithinBounds(document, 0) <= HNConfigReader::MaxElements, "more elements than the bound");
        FUZZ_CHECK(reader.schools().size() <= HNConfigReader::MaxElements, "more schools than the bound");
        for (const QDomElement &school : reader.schools())
            bridge->readSchoolConfiguration(school);
    }
    return 0;
}
