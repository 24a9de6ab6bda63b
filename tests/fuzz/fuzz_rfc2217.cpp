// The Telnet codec on what a device server may send: any bytes, split
// anywhere, give the same data and answers as in one piece, and the data
// never holds more bytes than came in.
#include "fuzzing.h"
#include "rfc2217.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t* stream = data + 1;
    const size_t n = size - 1, cut = std::min<size_t>(data[0] % size, n);
    Rfc2217Codec whole, split;
    whole.Start({});
    split.Start({});
    QByteArray d1, r1, d2, r2;
    whole.Feed(stream, n, d1, r1);
    split.Feed(stream, cut, d2, r2);
    split.Feed(stream + cut, n - cut, d2, r2);
    Require(d1 == d2 && r1 == r2 && size_t(d1.size()) <= n && whole.Settled() == split.Settled());
    return 0;
}
