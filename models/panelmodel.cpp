#include "models/panelmodel.h"

#include "common/errors.h"
#include "i18n/msglangres.h"
#include "protocol/paramblock.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr mode_t kFolderMode = 0777; // narrowed by the umask, as for any folder the user makes

// Only the last level is made: "Data" itself belongs to start-up, and a missing "Data" is an
// error worth reporting rather than papering over.
bool MakeFolder(const QString& path, QString* error)
{
    if (QFileInfo(path).isDir())
        return true;
    if (::mkdir(QFile::encodeName(path).constData(), kFolderMode) == 0)
        return true;
    const int code = errno;
    *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code)));
    return false;
}

} // namespace

TPanelModel::TPanelModel(const TsmlMsgLangRes& messages, MessageFn showPlainMessage,
                         MessageFn reportError)
    : messages_(messages), showPlainMessage_(std::move(showPlainMessage)),
      reportError_(std::move(reportError))
{
}

void TPanelModel::StructureChanged()
{
    if (observer_)
        observer_->PanelStructureChanged();
}

void TPanelModel::BuildParameterPanel(const ModelContext& ctx)
{
    // Whatever an earlier build left goes first. The connection resets skip the clear while the
    // model is flagged missing, and a build stopped by a bad number sets that flag after it has
    // made entries: without this, the next build would add its entries to the stale ones.
    ClearParameterPanel();

    const QString& name = ctx.modelName;
    TModelDefinition definition;
    if (!IsSafeModelName(name) ||
        !definition.Load(ModelFilePath(ctx.programDir, ctx.languageCode, name))) {
        ShowMissing(name, QStringLiteral(" "));
        modelFileMissing_ = true;
        return;
    }

    // A build that fails leaves the model flagged as missing, so that no read follows: a read into
    // a half-built panel would take display bytes for option bytes and write them back.
    QString error;
    if (!MakeFolder(ParameterFolder(ctx.programDir, name), &error)) {
        modelFileMissing_ = true;
        reportError_(error);
        return;
    }
    definition_ = definition;

    const QStringList texts = definition_.DisplayTexts();
    for (int k = 0; k < texts.size(); ++k) {
        captions_.append(QString());
        try {
            multipliers_.Derive(k, texts[k], ctx.alternateScale);
        } catch (const EKorvalinexError& e) {
            // What was made so far stays until the next clear.
            modelFileMissing_ = true;
            StructureChanged();
            reportError_(e.Text());
            return;
        }
        captions_[k] = DisplayCaption(texts[k]);
    }
    for (int k = 0; k < texts.size(); ++k)
        values_.append(kNoValueText);

    for (int g = 0; g < definition_.GroupCount(); ++g) {
        TPanelGroup group;
        group.caption = definition_.GroupCaption(g);
        group.items = definition_.GroupItems(g);
        groups_.append(group);
    }
    modelFileMissing_ = false;
    StructureChanged();
}

void TPanelModel::RelabelParameterPanel(const ModelContext& ctx)
{
    const QString& name = ctx.modelName;
    TModelDefinition definition;
    if (!IsSafeModelName(name) ||
        !definition.Load(ModelFilePath(ctx.programDir, ctx.languageCode, name))) {
        ShowMissing(name, QString());
        return;
    }

    // Everything is derived before anything changes: a bad number in the new file leaves the panel
    // and its scaling as they were instead of half relabelled.
    const QStringList texts = definition.DisplayTexts();
    const int entries = int(std::min<qsizetype>(captions_.size(), texts.size()));
    TMultiplierTable multipliers = multipliers_;
    try {
        for (int k = 0; k < entries; ++k)
            multipliers.Derive(k, texts[k], ctx.alternateScale);
    } catch (const EKorvalinexError& e) {
        reportError_(e.Text());
        return;
    }
    definition_ = definition;
    multipliers_ = multipliers;

    for (int k = 0; k < entries; ++k)
        captions_[k] = DisplayCaption(texts[k]);
    const int groups = std::min(GroupCount(), definition_.GroupCount());
    for (int g = groups - 1; g >= 0; --g) {
        TPanelGroup& group = groups_[g];
        group.caption = definition_.GroupCaption(g);
        const QStringList items = definition_.GroupItems(g);
        const qsizetype count = std::min(items.size(), group.items.size());
        for (qsizetype j = 0; j < count; ++j)
            group.items[j] = items[j];
    }
    modelFileMissing_ = false;
    if (observer_)
        observer_->PanelCaptionsChanged();
}

void TPanelModel::ClearParameterPanel()
{
    // Whatever exists goes, also the remains of a build that stopped half-way.
    captions_.clear();
    values_.clear();
    valuesFile_.clear();
    groups_.clear();
    definition_ = TModelDefinition();
    multipliers_.Clear();
    activeOptionCount_ = 0;
    unassignedBytes_.clear();
    stored_.reset();
    StructureChanged();
    Unwritten();
}

QString TPanelModel::DisplayText(int i) const
{
    return i >= 0 && i < values_.size() ? values_[i] : QString();
}

void TPanelModel::SetDisplayText(int i, const QString& text)
{
    if (i < 0 || i >= values_.size())
        return;
    values_[i] = text;
    if (observer_)
        observer_->DisplayTextChanged(i);
    // A value set again is the regulator's (a read), however the others came.
    ValuesFromFile(QString());
}

void TPanelModel::ValuesFromFile(const QString& fileName)
{
    if (valuesFile_ == fileName)
        return;
    valuesFile_ = fileName;
    if (observer_)
        observer_->ValuesSourceChanged();
}

const TPanelGroup* TPanelModel::Group(int g) const
{
    return g >= 0 && g < groups_.size() ? &groups_[g] : nullptr;
}

int TPanelModel::ItemCount(int g) const
{
    const TPanelGroup* group = Group(g);
    return group ? int(group->items.size()) : 0;
}

int TPanelModel::ItemIndex(int g) const
{
    const TPanelGroup* group = Group(g);
    return group ? group->itemIndex : -1;
}

void TPanelModel::SetItemIndex(int g, int index)
{
    if (!Group(g) || index < -1 || index >= groups_[g].items.size())
        return;
    TPanelGroup& group = groups_[g];
    if (group.itemIndex == index)
        return;
    group.itemIndex = index;
    if (observer_)
        observer_->ItemIndexChanged(g);
    Unwritten();
    // Group 0's click handler: only a different chosen item runs it, never clearing the choice.
    if (g == 0 && index >= 0)
        ApplyMasterSwitch();
}

void TPanelModel::SetItemColours(int g, int blue)
{
    if (!Group(g))
        return;
    groups_[g].blueItem = blue >= 0 && blue < groups_[g].items.size() ? blue : -1;
    groups_[g].coloured = true;
    if (observer_)
        observer_->ItemColoursChanged(g);
}

bool TPanelModel::GroupEnabled(int g) const
{
    const TPanelGroup* group = Group(g);
    return group && group->enabled;
}

void TPanelModel::SetGroupEnabled(int g, bool on)
{
    if (!Group(g) || groups_[g].enabled == on)
        return;
    groups_[g].enabled = on;
    if (observer_)
        observer_->GroupEnabledChanged(g);
}

void TPanelModel::ApplyMasterSwitch()
{
    const int n = GroupCount();
    for (int g = n - 1; g >= 2; --g)
        SetGroupEnabled(g, false);
    // "Nothing chosen" counts as not the first item; the handler itself never sees it, because
    // clearing the choice does not run the rule.
    if (n > 0 && ItemIndex(0) != 0) {
        for (int g = std::min(activeOptionCount_, n) - 1; g >= 0; --g)
            SetGroupEnabled(g, true);
    }
}

void TPanelModel::ShowMissing(const QString& modelName, const QString& gap)
{
    showPlainMessage_(messages_.LookupMessage(QStringLiteral("str10")) + gap + modelName +
                      QStringLiteral(".ini") + QLatin1Char('\r') +
                      messages_.LookupMessage(QStringLiteral("str30")));
}

// ---- changes not yet written
// ---------------------------------------------------------------------

void TPanelModel::Unwritten()
{
    if (observer_)
        observer_->UnwrittenChanged();
}

void TPanelModel::SettingsStored(const TStoredSettings& stored)
{
    if (!stored_) {
        stored_ = stored;
    } else {
        stored_->throttleMinUs = stored.throttleMinUs;
        stored_->throttleMaxUs = stored.throttleMaxUs;
        for (qsizetype g = 0; g < stored.items.size(); ++g) {
            if (g < stored_->items.size())
                stored_->items[g] = stored.items[g];
            else
                stored_->items.append(stored.items[g]);
        }
    }
    Unwritten();
}

void TPanelModel::ForgetStoredSettings()
{
    stored_.reset();
    Unwritten();
}

void TPanelModel::SetThrottleShown(double minMs, double maxMs)
{
    // Compared as the write would send them, so 1.05 and 1.050000001 are the same setting.
    const int minUs = ToWire(minMs);
    const int maxUs = ToWire(maxMs);
    if (minUs == throttleMinShownUs_ && maxUs == throttleMaxShownUs_)
        return;
    throttleMinShownUs_ = minUs;
    throttleMaxShownUs_ = maxUs;
    Unwritten();
}

bool TPanelModel::GroupUnwritten(int g) const
{
    return stored_ && g >= 0 && g < stored_->items.size() && g < groups_.size() &&
           groups_[g].itemIndex != stored_->items[g];
}

bool TPanelModel::ThrottleMinUnwritten() const
{
    return stored_ && throttleMinShownUs_ != stored_->throttleMinUs;
}

bool TPanelModel::ThrottleMaxUnwritten() const
{
    return stored_ && throttleMaxShownUs_ != stored_->throttleMaxUs;
}

int TPanelModel::UnwrittenCount() const
{
    int n = int(ThrottleMinUnwritten()) + int(ThrottleMaxUnwritten());
    for (int g = 0; g < GroupCount(); ++g)
        n += int(GroupUnwritten(g));
    return n;
}

TUnwrittenEdits TPanelModel::UnwrittenEdits() const
{
    TUnwrittenEdits edits;
    for (int g = 0; g < GroupCount(); ++g)
        if (GroupUnwritten(g))
            edits.items.append({g, groups_[g].itemIndex});
    if (ThrottleMinUnwritten())
        edits.throttleMinUs = throttleMinShownUs_;
    if (ThrottleMaxUnwritten())
        edits.throttleMaxUs = throttleMaxShownUs_;
    return edits;
}

void TPanelModel::RestoreItems(const TUnwrittenEdits& edits)
{
    for (const auto& [g, item] : edits.items)
        if (Group(g) && item < ItemCount(g))
            SetItemIndex(g, item);
}
