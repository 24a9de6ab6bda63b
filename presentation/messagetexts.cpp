#include "messagetexts.h"

namespace {
const char* const BuiltIn[MessageCount] = {
    "No.", "Unit Price", "PLU Name", "Unit",
    "No.", "Unit Price", "Weight", "Total Price",
    "500g", "g", "100g", "600g", "LB",
    "kg", "g", "kg",
    "Connect...", "Connect...Error!", "Protocol...Error!", "Disconnect...", "Disconnect...Error!",
    "Download PLU...", "Download PLU...Error!", "Download PLU OK!",
    "Upload PLU...", "Upload PLU...Error!", "Upload PLU OK!",
    "Sale report...", "Sale report...Error!",
    "Varlo scale is not under weighting state!",
    "File has not been saved, save it now?",
    "Ranging between 0 and ",
    "Information", "Print ?",
    "scale indication is unstable", "scale plate is lifted", "scale indication is in overflow",
};

const char* const Keys[MessageCount] = {
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "Connect", "ConnectError", "ProtocolError", "Disconnect", "DisconnectError",
    "DownloadPLU", "DownloadPLUError", "DownloadPLUOK",
    "UploadPLU", "UploadPLUError", "UploadPLUOK",
    "SaleReport", "SaleReportError", "NotWeightState",
    "Save", "Range", "PrintHint", "PrintMsg",
    "stableError", "liftedError", "overError",
};
} // namespace

TMessageTexts MessageTexts;

TMessageTexts::TMessageTexts() { resetToBuiltIn(); }

const QString& TMessageTexts::operator[](int i) const
{
    static const QString empty;
    return (i >= 0 && i < MessageCount) ? Texts[i] : empty;
}

void TMessageTexts::set(int i, const QString& text)
{
    if (i >= 0 && i < MessageCount)
        Texts[i] = text;
}

void TMessageTexts::resetToBuiltIn()
{
    for (int i = 0; i < MessageCount; ++i)
        Texts[i] = QString::fromLatin1(BuiltIn[i]);
}

QString TMessageTexts::builtIn(int i)
{
    return (i >= 0 && i < MessageCount) ? QString::fromLatin1(BuiltIn[i]) : QString();
}

const char* TMessageTexts::languageKey(int i)
{
    return (i >= 0 && i < MessageCount) ? Keys[i] : "";
}
