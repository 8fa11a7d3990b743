#include "datapath/FeatureLogFormat.h"

#include <charconv>

namespace {

// The number, then the character that ends its field.
template <typename Number>
void appendNumber(QByteArray& out, Number value, char end)
{
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, int(result.ptr - digits));
    out.append(end);
}

// A zero difference from the baseline may come out as -0; both print as "0".
void appendReal(QByteArray& out, double value, char end)
{
    appendNumber(out, value == 0 ? 0.0 : value, end);
}

} // namespace

QByteArray FeatureLogFormat::header()
{
    return QByteArrayLiteral("evNum,serial,type,channel,baseline,noise,amplitude,peak,integral\n");
}

int FeatureLogFormat::appendBoard(QByteArray& out, const DeviceEvent& board)
{
    for (const ChannelData& channel : board.channels) {
        const ChannelFeatures& f = channel.features;
        appendNumber(out, board.evNum, ',');
        appendNumber(out, board.serial, ',');
        appendNumber(out, board.deviceType, ',');
        appendNumber(out, channel.ch, ',');
        appendReal(out, f.baseline, ',');
        appendReal(out, f.noise, ',');
        appendReal(out, f.amplitude, ',');
        appendNumber(out, f.peak, ',');
        appendReal(out, f.integral, '\n');
    }
    return board.channels.size();
}
