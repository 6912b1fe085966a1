#include "diagnose/checks.h"

#include "common/settings.h"
#include "i18n/languages.h"
#include "i18n/msglangres.h"
#include "link/portname.h"
#include "link/usbdevices.h"
#include "models/modelfile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

const QString kById = QStringLiteral("/dev/serial/by-id");
const QString kRuleName = QStringLiteral("60-korvalinex-ftdi.rules");
// An earlier version's name for the rule: it sorts after the seat rules, which then cannot turn
// its tag into the seat user's access.
const QString kOldRuleName = QStringLiteral("99-korvalinex-ftdi.rules");
const QStringList kRuleFolders = {QStringLiteral("/etc/udev/rules.d"),
                                  QStringLiteral("/usr/lib/udev/rules.d"),
                                  QStringLiteral("/lib/udev/rules.d")};
const QString kFtdiVendor = QStringLiteral("0403");
const QStringList kFtdiProducts = {QStringLiteral("6001"), QStringLiteral("6010"),
                                   QStringLiteral("6011"), QStringLiteral("6014"),
                                   QStringLiteral("6015")};
// The makers of the USB serial chips that braille displays are built on too, so that brltty's rules
// name them: FTDI, WCH, Silicon Labs, Prolific.
const QStringList kUsbSerialVendors = {QStringLiteral("0403"), QStringLiteral("1a86"),
                                       QStringLiteral("10c4"), QStringLiteral("067b")};
const char kAccessListAttribute[] = "system.posix_acl_access";
// How far up from a serial device's node in sysfs its USB device may be.
constexpr int kUsbParentLevels = 6;

// A USB device as sysfs describes it.
struct TUsbDevice {
    QString vendor, product, serial, description;
    int bus = 0, address = 0;
    QString Node() const
    {
        return QStringLiteral("/dev/bus/usb/%1/%2")
            .arg(bus, 3, 10, QLatin1Char('0'))
            .arg(address, 3, 10, QLatin1Char('0'));
    }
    QString Id() const { return vendor + QLatin1Char(':') + product; }
};

class TChecker {
public:
    TChecker(const TMachine& m, const TsmlMsgLangRes& messages) : m_(m), messages_(messages) {}

    QList<TFinding> findings;
    QString ruleToCopy; // the udev rule a user without it copies into /etc/udev/rules.d

    void Add(const char* id, TVerdict verdict, const char* seenKey, const QStringList& seenArgs,
             const char* todoKey = nullptr, const QStringList& todoArgs = {})
    {
        TFinding f;
        f.id = QLatin1String(id);
        f.verdict = verdict;
        f.seenKey = QLatin1String(seenKey);
        f.seen = Text(seenKey, seenArgs);
        if (todoKey) {
            f.todoKey = QLatin1String(todoKey);
            f.todo = Text(todoKey, todoArgs);
        }
        findings.append(f);
    }
    QString Text(const char* key, const QStringList& args = {}) const
    {
        return FillMessage(messages_, QLatin1String(key), args);
    }

    void User();
    void SerialPort(const QString& name);
    void UsbAdapter(const TCheckedLink& link);

private:
    QString Group(unsigned gid) const { return m_.GroupName(gid).value_or(QString::number(gid)); }
    QString Groups(const QList<unsigned>& gids) const
    {
        QStringList names;
        for (unsigned g : gids)
            names << Group(g);
        return names.join(QStringLiteral(", "));
    }
    // The stable names and the devices they lead to now, as "name → device".
    QStringList StableNames() const;
    void Permission(const char* id, const QString& path);
    void Holders(const QString& path);
    void ModemManager();
    void Brltty(const QList<TUsbDevice>& devices);
    QList<TUsbDevice> UsbDevices() const;
    std::optional<TUsbDevice> UsbDeviceOfTty(const QString& device) const;
    void UdevRule(const std::optional<TUsbDevice>& device);
    QList<TProcessInfo> Named(const QString& name) const
    {
        QList<TProcessInfo> found;
        for (const TProcessInfo& p : processes_)
            if (p.name == name)
                found.append(p);
        return found;
    }
    bool Denied(const QString& path) const
    {
        const TFileStat st = m_.Stat(path);
        return st.exists && ReadWriteRight(st, m_.Attribute(path, kAccessListAttribute),
                                           m_.User()) == TAccessRight::None;
    }
    void LoadProcesses()
    {
        if (!processesLoaded_)
            processes_ = m_.Processes();
        processesLoaded_ = true;
    }

    const TMachine& m_;
    const TsmlMsgLangRes& messages_;
    QList<TProcessInfo> processes_;
    bool processesLoaded_ = false;
};

QString PidList(const QList<TProcessInfo>& processes)
{
    QStringList pids;
    for (const TProcessInfo& p : processes)
        pids << QString::number(p.pid);
    return pids.join(QLatin1Char(' '));
}

void TChecker::User()
{
    const TUserIdentity& u = m_.User();
    Add("user", TVerdict::Fine, "Str495",
        {u.name.isEmpty() ? m_.UserName(u.uid) : u.name, QString::number(u.uid), Groups(u.gids)});
}

QStringList TChecker::StableNames() const
{
    QStringList names;
    for (const QString& name : m_.List(kById)) {
        const QString target = m_.Resolve(kById + QLatin1Char('/') + name);
        if (!target.isEmpty())
            names << kById + QLatin1Char('/') + name + QStringLiteral(" \u2192 ") + target;
    }
    return names;
}

void TChecker::SerialPort(const QString& name)
{
    const QString path = name.startsWith(QLatin1Char('/')) ? name : DevicePathForPortName(name);
    const TFileStat st = path.isEmpty() ? TFileStat{} : m_.Stat(path);
    if (!st.exists) {
        const QStringList stable = StableNames();
        const QString shown = path.isEmpty() ? name : path;
        // A stable name that has gone is the adapter that is gone, not one that moved.
        if (stable.isEmpty() || path.startsWith(kById + QLatin1Char('/')))
            Add("port", TVerdict::Problem, "Str422", {shown}, "Str423");
        else
            Add("port", TVerdict::Problem, "Str424", {shown, stable.join(QStringLiteral(", "))},
                "Str425", {stable.first().section(QStringLiteral(" \u2192 "), 0, 0)});
        // brltty takes a serial adapter's port away as soon as it is plugged in: its node goes.
        QList<TUsbDevice> serialChips;
        for (const TUsbDevice& d : UsbDevices())
            if (kUsbSerialVendors.contains(d.vendor))
                serialChips.append(d);
        Brltty(serialChips);
        return;
    }
    if (!st.charDevice) {
        Add("port", TVerdict::Problem, "Str426", {path}, "Str423");
        return;
    }
    const QString device = m_.Resolve(path);
    QString alias;
    for (const QString& s : StableNames())
        if (s.endsWith(QStringLiteral(" \u2192 ") + device))
            alias = s.section(QStringLiteral(" \u2192 "), 0, 0);
    if (device != path)
        Add("port", TVerdict::Fine, "Str421", {path, device});
    else if (!alias.isEmpty())
        Add("port", TVerdict::Fine, "Str427", {path, alias}, "Str428", {alias});
    else
        Add("port", TVerdict::Fine, "Str420", {path});
    Permission("permission", device);
    Holders(device);
    const QString tty = QFileInfo(device).fileName();
    if (tty.startsWith(QLatin1String("ttyUSB")) || tty.startsWith(QLatin1String("ttyACM")))
        ModemManager();
    const std::optional<TUsbDevice> usb = UsbDeviceOfTty(tty);
    Brltty(usb ? QList<TUsbDevice>{*usb} : QList<TUsbDevice>{});
}

void TChecker::Permission(const char* id, const QString& path)
{
    const TFileStat st = m_.Stat(path);
    const TUserIdentity& u = m_.User();
    const QString user = u.name.isEmpty() ? m_.UserName(u.uid) : u.name;
    const QString group = Group(st.gid);
    const QString owner = m_.UserName(st.uid);
    const QString mode = ModeText(st);
    switch (ReadWriteRight(st, m_.Attribute(path, kAccessListAttribute), u)) {
    case TAccessRight::Root:
        return Add(id, TVerdict::Fine, "Str430", {path, owner, group, mode, Text("Str431")});
    case TAccessRight::Owner:
        return Add(id, TVerdict::Fine, "Str430", {path, owner, group, mode, Text("Str432")});
    case TAccessRight::Group:
        return Add(id, TVerdict::Fine, "Str430",
                   {path, owner, group, mode, Text("Str433", {group})});
    case TAccessRight::Other:
        return Add(id, TVerdict::Fine, "Str430", {path, owner, group, mode, Text("Str434")});
    case TAccessRight::AccessList:
        return Add(id, TVerdict::Fine, "Str430", {path, owner, group, mode, Text("Str435")});
    case TAccessRight::None:
        break;
    }
    // Not even the group may read and write it: joining would not help.
    if ((st.mode & 060) != 060)
        return Add(id, TVerdict::Problem, "Str440", {path, owner, group, mode}, "Str441", {path});
    if (!m_.GroupName(st.gid))
        return Add(id, TVerdict::CannotTell, "Str442", {path, owner, group, mode}, "Str437",
                   {group, user});
    if (m_.InGroupInDatabase(user, st.gid))
        return Add(id, TVerdict::Problem, "Str438", {path, group, mode, user}, "Str439");
    Add(id, TVerdict::Problem, "Str436", {path, owner, group, mode, user}, "Str437", {group, user});
}

void TChecker::Holders(const QString& path)
{
    LoadProcesses();
    QList<TProcessInfo> holders;
    bool self = false;
    int unseen = 0;
    for (const TProcessInfo& p : processes_) {
        if (!p.fdsSeen) {
            ++unseen;
            continue;
        }
        if (!p.fds.contains(path))
            continue;
        // A pseudo-terminal's far end (a simulator, a terminal) holds it too; that is its line.
        if (path.startsWith(QLatin1String("/dev/pts/")) &&
            p.fds.contains(QLatin1String("/dev/ptmx")))
            continue;
        if (p.pid == m_.User().pid)
            self = true;
        else
            holders.append(p);
    }
    if (!holders.isEmpty()) {
        QStringList names;
        for (const TProcessInfo& p : holders)
            names << Text("Str455", {p.name, QString::number(p.pid)});
        Add("holder", TVerdict::Problem, "Str452", {path, names.join(QStringLiteral(", "))},
            "Str453", {PidList(holders)});
    } else if (self) {
        Add("holder", TVerdict::Fine, "Str454", {path});
    } else if (unseen > 0) {
        Add("holder", TVerdict::Fine, "Str451", {path, QString::number(unseen)}, "Str456", {path});
    } else {
        Add("holder", TVerdict::Fine, "Str450", {path});
    }
}

void TChecker::ModemManager()
{
    LoadProcesses();
    const QList<TProcessInfo> mm = Named(QStringLiteral("ModemManager"));
    if (mm.isEmpty())
        Add("modemmanager", TVerdict::Fine, "Str460", {});
    else
        Add("modemmanager", TVerdict::CannotTell, "Str461", {PidList(mm)}, "Str462");
}

QList<TUsbDevice> TChecker::UsbDevices() const
{
    QList<TUsbDevice> devices;
    const QString base = QStringLiteral("/sys/bus/usb/devices/");
    const auto read = [this](const QString& file) {
        return QString::fromLocal8Bit(m_.Read(file, 256).value_or(QByteArray()).trimmed());
    };
    for (const QString& name : m_.List(base)) {
        const QString dir = base + name + QLatin1Char('/');
        TUsbDevice d;
        d.vendor = read(dir + QStringLiteral("idVendor")).toLower();
        if (d.vendor.isEmpty())
            continue; // an interface, not a device
        d.product = read(dir + QStringLiteral("idProduct")).toLower();
        d.serial = read(dir + QStringLiteral("serial"));
        d.description = read(dir + QStringLiteral("product"));
        d.bus = read(dir + QStringLiteral("busnum")).toInt();
        d.address = read(dir + QStringLiteral("devnum")).toInt();
        devices.append(d);
    }
    return devices;
}

std::optional<TUsbDevice> TChecker::UsbDeviceOfTty(const QString& tty) const
{
    QString dir = m_.Resolve(QStringLiteral("/sys/class/tty/") + tty + QStringLiteral("/device"));
    const auto read = [this](const QString& file) {
        return QString::fromLocal8Bit(m_.Read(file, 256).value_or(QByteArray()).trimmed());
    };
    for (int level = 0; level < kUsbParentLevels && dir.size() > 1; ++level) {
        const QString vendor = read(dir + QStringLiteral("/idVendor")).toLower();
        if (!vendor.isEmpty()) {
            TUsbDevice d;
            d.vendor = vendor;
            d.product = read(dir + QStringLiteral("/idProduct")).toLower();
            d.serial = read(dir + QStringLiteral("/serial"));
            d.bus = read(dir + QStringLiteral("/busnum")).toInt();
            d.address = read(dir + QStringLiteral("/devnum")).toInt();
            return d;
        }
        dir = QFileInfo(dir).path();
    }
    return std::nullopt;
}

void TChecker::Brltty(const QList<TUsbDevice>& devices)
{
    LoadProcesses();
    const QList<TProcessInfo> running = Named(QStringLiteral("brltty"));
    // brltty's rules name the devices it takes for braille displays, in either of two forms.
    for (const QString& folder : kRuleFolders) {
        for (const QString& file : m_.List(folder)) {
            if (!file.contains(QLatin1String("brltty")) || !file.endsWith(QLatin1String(".rules")))
                continue;
            const QString path = folder + QLatin1Char('/') + file;
            const QString rules = QString::fromUtf8(m_.Read(path).value_or(QByteArray())).toLower();
            for (const TUsbDevice& d : devices) {
                const QString product = QString::number(d.product.toUInt(nullptr, 16), 16);
                const QString vendor = QString::number(d.vendor.toUInt(nullptr, 16), 16);
                const QRegularExpression attrs(
                    QStringLiteral("idvendor\\}==\"%1\"[^\\n]*idproduct\\}==\"%2\"")
                        .arg(d.vendor, d.product));
                const bool claims =
                    attrs.match(rules).hasMatch() ||
                    rules.contains(QStringLiteral("product}==\"%1/%2/").arg(vendor, product));
                if (claims)
                    return Add("brltty", TVerdict::Problem, "Str466", {path, d.Id()}, "Str467");
            }
        }
    }
    if (running.isEmpty())
        return Add("brltty", TVerdict::Fine, devices.isEmpty() ? "Str464" : "Str465", {});
    if (devices.isEmpty())
        return Add("brltty", TVerdict::CannotTell, "Str468", {PidList(running)}, "Str467");
    Add("brltty", TVerdict::Fine, "Str469", {PidList(running)});
}

void TChecker::UdevRule(const std::optional<TUsbDevice>& device)
{
    QString rule, old;
    qint64 installed = 0;
    for (const QString& folder : kRuleFolders) {
        const QString path = folder + QLatin1Char('/') + kRuleName;
        const TFileStat st = m_.Stat(path);
        if (rule.isEmpty() && st.exists) {
            rule = path;
            // Installing sets the file's change time; a package keeps its modification time.
            installed = st.ctime;
        }
        if (old.isEmpty() && m_.Stat(folder + QLatin1Char('/') + kOldRuleName).exists)
            old = folder + QLatin1Char('/') + kOldRuleName;
    }
    const bool root = m_.User().uid == 0;
    const bool denied = device && Denied(device->Node());
    if (rule.isEmpty()) {
        const bool needed = !root && (!device || denied);
        if (!old.isEmpty())
            return Add("udev-rule", needed ? TVerdict::Problem : TVerdict::Fine, "Str487", {old},
                       "Str489", {ruleToCopy});
        if (!needed)
            return Add("udev-rule", TVerdict::Fine, "Str486",
                       {kRuleName, kRuleFolders.mid(0, 2).join(", ")});
        return Add("udev-rule", TVerdict::Problem, "Str488",
                   {kRuleName, kRuleFolders.mid(0, 2).join(", ")}, "Str489", {ruleToCopy});
    }
    // A node made before the rule was there got its rights without it.
    const TFileStat node = device ? m_.Stat(device->Node()) : TFileStat{};
    if (denied && node.exists && node.mtime < installed) {
        const auto when = [](qint64 secs) {
            return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        };
        return Add("udev-rule", TVerdict::Problem, "Str490",
                   {when(node.mtime), rule, when(installed)}, "Str491");
    }
    if (denied)
        return Add("udev-rule", TVerdict::Problem, "Str492", {rule}, "Str493");
    Add("udev-rule", TVerdict::Fine, "Str485", {rule});
}

void TChecker::UsbAdapter(const TCheckedLink& link)
{
    const QList<TListedAdapter> listed = ListAdapters();
    QList<TUsbDevice> sysfs;
    for (const TUsbDevice& d : UsbDevices())
        if (d.vendor == kFtdiVendor && kFtdiProducts.contains(d.product))
            sysfs.append(d);
    if (listed.isEmpty()) {
        Add("usb-adapter", TVerdict::Problem, "Str471", {}, "Str472");
        UdevRule(std::nullopt);
        return;
    }
    QStringList names;
    const TListedAdapter* chosen = nullptr;
    for (const TListedAdapter& a : listed) {
        names << (a.serialNo + QLatin1Char(' ') + a.description).trimmed();
        if (!chosen && (link.usbSerial.isEmpty() || a.serialNo == link.usbSerial))
            chosen = &a;
    }
    if (!chosen) {
        Add("usb-adapter", TVerdict::Problem, "Str473",
            {link.usbSerial, names.join(QStringLiteral(", "))}, "Str474");
        return;
    }
    Add("usb-adapter", TVerdict::Fine, "Str470", {names.join(QStringLiteral(", "))});
    const QString name = (chosen->serialNo + QLatin1Char(' ') + chosen->description).trimmed();
    switch (chosen->problem) {
    case FtOpenFailure::None:
        Add("usb-access", TVerdict::Fine, "Str475", {name});
        break;
    case FtOpenFailure::Denied:
        Add("usb-access", TVerdict::Problem, "Str476", {name, chosen->detail}, "Str477");
        break;
    case FtOpenFailure::Busy:
        Add("usb-access", TVerdict::Problem, "Str478", {name, chosen->detail}, "Str479");
        break;
    case FtOpenFailure::Gone:
    case FtOpenFailure::Other:
        Add("usb-access", TVerdict::Problem, "Str480", {name, chosen->detail}, "Str481");
        break;
    }
    // The adapter in sysfs: by its serial number, or the only one there.
    std::optional<TUsbDevice> device;
    for (const TUsbDevice& d : sysfs)
        if (!device && (d.serial == chosen->serialNo || sysfs.size() == 1))
            device = d;
    if (device && m_.Stat(device->Node()).exists) {
        Permission("usb-permission", device->Node());
        Holders(device->Node());
    }
    UdevRule(device);
    Brltty(device ? QList<TUsbDevice>{*device} : QList<TUsbDevice>{});
}

} // namespace

QString FillMessage(const TsmlMsgLangRes& messages, const QString& key, const QStringList& args)
{
    const QString text = messages.LookupMessage(key);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 1 < text.size() && text[i + 1].isDigit()) {
            const int n = text[i + 1].digitValue();
            if (n >= 1 && n <= args.size()) {
                out += args[n - 1];
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

TCheckedLink LinkOfSettings(const TUserSettings& settings)
{
    TCheckedLink link;
    link.fromSetup = true;
    // As the window reads the setting: anything but "COM" is the adapter.
    link.usb = settings.device != QLatin1String("COM");
    if (!link.usb)
        link.port = settings.com;
    return link;
}

QList<TFinding> CheckMachine(const TMachine& machine, const TCheckedLink& link,
                             const TsmlMsgLangRes& messages, const QString& programDir)
{
    TChecker c(machine, messages);
    const QString beside = programDir + kRuleName;
    c.ruleToCopy = !programDir.isEmpty() && QFileInfo::exists(beside)
                       ? beside
                       : QStringLiteral("data/") + kRuleName;
    if (link.usb) {
        const QString which = link.usbSerial.isEmpty() ? c.Text("Str414") : link.usbSerial;
        c.Add("link", TVerdict::Fine, link.fromSetup ? "Str411" : "Str413", {which});
    } else {
        const QString device = DevicePathForPortName(link.port);
        const QString shown = device.isEmpty() || device == link.port
                                  ? link.port
                                  : QStringLiteral("%1 (%2)").arg(link.port, device);
        c.Add("link", TVerdict::Fine, link.fromSetup ? "Str410" : "Str412", {shown});
    }
    c.User();
    if (link.usb)
        c.UsbAdapter(link);
    else
        c.SerialPort(link.port);
    return c.findings;
}

TFinding CheckModelFile(const QString& programDir, const QString& language, const QString& model,
                        const TsmlMsgLangRes& messages)
{
    TFinding f;
    f.id = QStringLiteral("model-file");
    const QString path = ModelFilePath(programDir, language, model);
    if (QFileInfo(path).isFile()) {
        f.seenKey = QStringLiteral("Str508");
        f.seen = FillMessage(messages, f.seenKey, {path});
        return f;
    }
    QStringList others;
    for (const TLanguage& l : kLanguages) {
        const QString code = QLatin1String(l.code);
        if (code != language && QFileInfo(ModelFilePath(programDir, code, model)).isFile())
            others << code;
    }
    f.verdict = TVerdict::Problem;
    f.seenKey = QStringLiteral("Str509");
    f.seen = FillMessage(messages, f.seenKey, {path, model});
    f.todoKey = others.isEmpty() ? QStringLiteral("Str510") : QStringLiteral("Str511");
    f.todo = FillMessage(messages, f.todoKey,
                         {QFileInfo(path).absolutePath(), others.join(QStringLiteral(", "))});
    return f;
}

QString PortOpenFailureText(int code, const TsmlMsgLangRes& messages)
{
    const auto msg = [&](const char* key) { return messages.LookupMessage(QLatin1String(key)); };
    switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
        return msg("Str515");
    case EACCES:
    case EPERM:
        return msg("Str516");
    case EBUSY:
    case EWOULDBLOCK:
        return msg("Str517");
    case ENOTTY:
    case EINVAL:
        return msg("Str518");
    default:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(code));
}
