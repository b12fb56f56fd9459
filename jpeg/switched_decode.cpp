// The decode under switches other than the product's, kept in a file of its
// own so that the product, which never calls it, does not link it.
#include "decoder_context.h"

DecoderResult DecodeJpegFileSwitched(const char* fileName, HGLOBAL* picture, bool cooperative,
                                     DecoderSwitches switches) {
    return DecodeJpegFileWith(fileName, picture,
                              cooperative ? DecodeScanToDibCooperative : DecodeScanToDib, switches);
}
