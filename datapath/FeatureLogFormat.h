#pragma once
// The text of the feature log: CSV, one line per board and channel of an
// event with the channel's ChannelFeatures. The viewer's output file writer
// and ravel-dump --features both print through it, so their bytes agree.
//   evNum,serial,type,channel,baseline,noise,amplitude,peak,integral
// Integers are printed in decimal, reals in the shortest form that reads back
// to the same double ("100", "2.5", "-0.125").

#include "datapath/EventData.h"

#include <QByteArray>

class FeatureLogFormat {
public:
    // The column names and a line end.
    static QByteArray header();
    // Appends one line per channel of the board, in channel order; returns
    // how many lines it appended.
    static int appendBoard(QByteArray& out, const DeviceEvent& board);
};
