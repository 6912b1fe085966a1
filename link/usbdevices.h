#pragma once
// The adapters that the USB ready check lists: the device table of the main window (ten entries),
// and the settings dialog's device list, which takes the rows instead while that dialog is the
// active window.

#include "link/ftd2xx.h"

#include <QList>
#include <QString>
#include <array>

struct TUsbDeviceEntry {
    QString label;       // "DEVICE " and the number from 1
    QString serialNo;    // device text of the serial number
    QString description; // device text of the description
};

constexpr int kUsbDeviceTableSize = 10;
using TUsbDeviceTable = std::array<TUsbDeviceEntry, kUsbDeviceTableSize>;

// Why the adapter that is listed first could not be opened at the last check. It stands until a
// check opens the adapter or lists none, so that whoever shows it can keep it shown that long.
struct TUsbOpenProblem {
    FtOpenFailure kind = FtOpenFailure::None;
    QString detail; // where, in the driver's words ("permission denied on /dev/bus/usb/001/004")
    bool operator==(const TUsbOpenProblem&) const = default;
};

// An adapter as the installed FT_* driver lists it: its USB strings (empty where it could not
// tell) and why it would not open, as far as listing it showed.
struct TListedAdapter {
    QString serialNo, description;
    FtOpenFailure problem = FtOpenFailure::None;
    QString detail; // the driver's words for the problem
};
// Every adapter attached now, in the driver's order; one unplugged while it was being listed is
// left out.
QList<TListedAdapter> ListAdapters();

// The message keys that tell a user about an open problem: a short notice for a status bar, and
// the full advice with %1 for the detail. Null for no problem.
struct TUsbProblemKeys {
    const char* notice;
    const char* advice;
};
inline TUsbProblemKeys UsbProblemKeys(FtOpenFailure kind)
{
    switch (kind) {
    case FtOpenFailure::None:
        return {nullptr, nullptr};
    case FtOpenFailure::Denied:
        return {"str180", "str116"};
    case FtOpenFailure::Busy:
        return {"str181", "str184"};
    case FtOpenFailure::Gone:
        return {"str182", "str185"};
    case FtOpenFailure::Other:
        break;
    }
    return {"str183", "str186"};
}

// The settings dialog as the USB ready check sees it.
class IUsbDeviceList {
public:
    virtual ~IUsbDeviceList() = default;
    // True while the dialog is the application's active window.
    virtual bool IsActiveWindow() const = 0;
    // One row of the list view: label, serial number, description.
    virtual void AddDeviceRow(const QString& label, const QString& serialNo,
                              const QString& description) = 0;
    // Empties the list view (the open adapter went away).
    virtual void ClearDeviceRows() = 0;
};

// The adapters as the USB link last saw them. The USB link implements this; the dialog only reads
// it, and asks for a fresh count while no adapter is open.
class IUsbDeviceSource {
public:
    virtual ~IUsbDeviceSource() = default;
    // The USB-open flag: an adapter has been opened and has not failed a check since.
    virtual bool UsbOpen() const = 0;
    // Asks the library again how many adapters are attached; DeviceCount gives the answer.
    virtual void GetFTDeviceCount() = 0;
    // The count that the last GetFTDeviceCount left (the table may hold fewer filled entries).
    virtual int DeviceCount() const = 0;
    // Entries 1 to 10 at indexes 0 to 9, as the last listing filled them.
    virtual const TUsbDeviceTable& DeviceTable() const = 0;
};
