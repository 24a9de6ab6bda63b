// libFuzzer target: any bytes as an INI file. Parsing and reading must not
// crash, and a key written into a copy must read back as written.
#include "fuzzing.h"
#include "inifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString in = ScratchFile("in.ini"), copy = ScratchFile("copy.ini");
    const QByteArray input = Bytes(data, size);
    WriteAll(in, input);
    const IniFile ini(in);
    ini.readString("default", "Price Dot", "def");
    ini.readInt("Default", "price length", 8);
    ini.readString("", "", {});

    // The value comes from the input's tail; a section and key it may also hold.
    const QByteArray value = input.right(std::min<qsizetype>(input.size(), 80));
    const QByteArray section = (size % 3 == 0) ? "default" : (size % 3 == 1) ? "DEFAULT" : "new";
    WriteAll(copy, input);
    IniFile::writeString(copy, section, "Price Dot", value);

    // What a line can hold: the value up to its first line break.
    qsizetype end = 0;
    while (end < value.size() && value[end] != '\r' && value[end] != '\n')
        ++end;
    bool found = false;
    const QByteArray back = IniFile(copy).readString(section, "price dot", {}, &found);
    Require(found && back == value.left(end));
    return 0;
}
