// The parameter-file loader on a panel of any shape. Whatever the file holds, the load ends with
// at most one error box, and a panel that a file has filled saves to a file that loads back into
// the very same panel state, so a saved setting is never changed by being saved and opened again.

#include "fuzzsupport.h"
#include "headless.h"
#include "models/paramfile.h"

namespace {

struct PanelState {
    QStringList displays;
    std::vector<int> items;
    bool operator==(const PanelState&) const = default;
};

PanelState StateOf(const THeadlessPanel& p)
{
    PanelState s{p.displays, {}};
    for (const auto& g : p.groups)
        s.items.push_back(g.index);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzInitialize(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TsmlMsgLangRes messages;
    FuzzedDataProvider in(data, size);
    THeadlessPanel panel;
    const int displays = in.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < displays; ++i)
        panel.displays.append(QStringLiteral("old %1").arg(i));
    const int groups = in.ConsumeIntegralInRange<int>(0, 8);
    for (int g = 0; g < groups; ++g)
        panel.groups.push_back({in.ConsumeIntegralInRange<int>(0, 8), -1});

    int boxes = 0;
    TParameterFiles files(panel, messages, [&boxes](const QString&) { ++boxes; });
    const QString path = FuzzProgramDir() + QStringLiteral("in.zeq");
    FuzzWrite(QStringLiteral("in.zeq"), Bytes(in.ConsumeRemainingBytesAsString()));
    files.LoadParameterFile(path);
    FUZZ_CHECK(boxes <= 1);
    for (const auto& g : panel.groups)
        FUZZ_CHECK(g.index >= -1 && g.index < g.items);
    if (boxes != 0)
        return 0;

    const PanelState loaded = StateOf(panel);
    const QString saved = FuzzProgramDir() + QStringLiteral("saved.zeq");
    files.SaveParameterFile(saved);
    FUZZ_CHECK(boxes == 0);
    for (QString& t : panel.displays)
        t = QStringLiteral("changed");
    for (auto& g : panel.groups)
        g.index = g.items - 1;
    files.LoadParameterFile(saved);
    FUZZ_CHECK(boxes == 0);
    FUZZ_CHECK(StateOf(panel) == loaded);
    return 0;
}
