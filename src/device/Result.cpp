#include "device/Result.h"

namespace {

// The system's texts are cut where the messages have always cut them.
constexpr qsizetype kReasonChars = 1024;

} // namespace

QString CResult::Message() const
{
    switch (nKind) {
    case kOk:
    case kNothing:
    case kAborted:
        return {};
    case kNotCsv:
        return QStringLiteral("This is not a CSV file!");
    case kCannotOpen:
        return QStringLiteral("Can not open file: %1").arg(strReason.left(kReasonChars));
    case kCannotSave:
        return QStringLiteral("Cann't save file: %1").arg(strReason.left(kReasonChars));
    case kNoPort:
    case kNoAnswer:
    case kLinkLost:
        break;
    }
    return strReason;
}
