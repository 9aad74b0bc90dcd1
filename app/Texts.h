#pragma once
// The fixed texts the panel shows.

#include <QString>

namespace app::texts {

// The blanks move the title towards the middle of the title bar, where the
// panel has always shown it.
inline const QString kCaption = QString(76, QLatin1Char(' ')) + QStringLiteral("KRL7741B/C/T CONTROLLER");
inline const QString kUsbOpen = QStringLiteral("USB = OPEN ");
inline const QString kUsbDisconnected = QStringLiteral("USB = Disconnected ");
inline const QString kVidPrefix = QStringLiteral("VID=$");
inline const QString kPidPrefix = QStringLiteral("PID=$");
inline const QString kSerialPrefix = QStringLiteral("HID =");
inline const QString kNackPrefix = QStringLiteral("NACK =");
inline const QString kNoAcknowledge = QStringLiteral("I2C error : no Acknowledge from device");
inline const QString kNotConnected = QStringLiteral("USB error : device not connected");
inline const QString kReleaseDate = QStringLiteral("ZK-May 2009");

}  // namespace app::texts
