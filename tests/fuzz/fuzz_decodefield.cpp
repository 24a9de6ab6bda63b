// Any code, position, count, decimals and record bytes into DecodeField and
// the codec's slots; position and count stay inside the 64-byte buffer, as
// the callers guarantee.
#include "fuzzing.h"
#include "silentdialogs.h"
#include "vemraencode.h"
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t size)
{
    static SilentDialogs silent;
    setDialogs(&silent);
    if (size < 4)
        return 0;
    const uint8_t code = in[0];
    const int position = in[1] % 64;
    const int count = in[2] % (64 - position + 1);
    const int decimals = int8_t(in[3]);
    uint8_t buffer[64] = {};
    std::memcpy(buffer, in + 4, std::min(size - 4, sizeof buffer));

    (void)DecodeField(code, buffer, 64, position, count, decimals).toString();
    TVemraencode codec;
    const QByteArrayView view(buffer, 64);
    codec.BytesToDigits(view, position, count);
    codec.DecodeInverted(view, position, count, decimals);
    codec.DecodeSigned(view, position, count, decimals);
    codec.BytesToText(view, position, count);
    codec.DecodeDateTime(view, position);
    codec.DecodeTime(view, position, count);
    codec.DecodeDouble(view, position, count, decimals);

    // The same bytes as a value to encode, in a field that fits.
    const int width = count % 9;
    int at = std::min(position, 64 - width);
    codec.EncodeField(code, QByteArray(reinterpret_cast<const char*>(buffer), count), buffer, 64, at, width,
                      decimals % 4);
    return 0;
}
