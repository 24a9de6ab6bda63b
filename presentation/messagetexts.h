#pragma once
#include <QString>

// The one table of operator texts: grid titles, unit names, statuses and
// messages. Every user reads an entry at the moment it shows it, so a text
// replaced by the language file takes effect at its next use.
enum MessageIndex {
    mtPluTitleNo = 0, mtPluTitlePrice = 1, mtPluTitleName = 2, mtPluTitleUnit = 3,
    mtDepTitleNo = 4, mtDepTitlePrice = 5, mtDepTitleWeight = 6, mtDepTitleTotal = 7,
    mtUnitReset = 13,        // "kg": unit of a reset table row
    mtUnitG = 14,            // "g": unit index 0 after an upload
    mtUnitKg = 15,           // "kg": unit index 1 after an upload; the unit list
    mtConnect = 16, mtConnectError, mtProtocolError, mtDisconnect, mtDisconnectError,
    mtDownloadPLU, mtDownloadPLUError, mtDownloadPLUOK,
    mtUploadPLU, mtUploadPLUError, mtUploadPLUOK,
    mtSaleReport, mtSaleReportError, mtNotWeightState,
    mtSave = 30, mtRange = 31, mtPrintHint = 32, mtPrintMsg = 33,
    mtStableError = 34, mtLiftedError = 35, mtOverError = 36,
    MessageCount = 37
};

class TMessageTexts {
public:
    TMessageTexts();
    const QString& operator[](int i) const;
    void set(int i, const QString& text);
    void resetToBuiltIn();
    // The built-in English text of entry i.
    static QString builtIn(int i);
    // Language key of entries 16..36 in section "String" (empty for others).
    static const char* languageKey(int i);

private:
    QString Texts[MessageCount];
};

// Program-wide, alive for the whole run.
extern TMessageTexts MessageTexts;
