// Cooperative decoding: the same decode as DecodeJpegFile, but the calling
// thread's message queue is serviced before every whole MCU of the full MCU
// rows, so that the thread's windows stay responsive during a long decode.
// Everything else (loading, parsing, traversal, output) is the ordinary code;
// only the driver's gate and the size of the DIB block differ.
#include "decoder_context.h"

namespace {

// One pass of the gate: remove one message. With none, the MCU is decoded;
// any other message is dispatched and the gate is asked again for the same
// MCU, so the queue is drained completely before each whole MCU.
McuGateAnswer ServiceMessageQueue(McuGate*) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return MCU_GATE_DECODE;
    if (message.message == WM_QUIT) {
        // The thread is asked to end: the quit message goes back into the queue
        // for the caller's own loop, and the decode ends here with the rows it has
        // (carrying on would decode the later MCUs from the skipped MCUs' data).
        PostQuitMessage(static_cast<int>(message.wParam));
        return MCU_GATE_STOP;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return MCU_GATE_AGAIN;
}

}  // namespace

DecoderResult DecodeScanToDibCooperative(DecoderContext* context, HGLOBAL* dib) {
    McuGate gate = {ServiceMessageQueue};
    // The height rounded up to a multiple of 8, in 32 bits: kept in 16 bits it
    // would wrap to 0 for heights from 65,529, and the block would be smaller
    // than the picture.
    std::uint32_t paddedRows = (static_cast<std::uint32_t>(context->height) + 7u) & ~7u;
    return RunScanToDib(context, dib, paddedRows, &gate);
}

DecoderResult DecodeJpegFileCooperative(const char* fileName, HGLOBAL* picture) {
    return DecodeJpegFileWith(fileName, picture, DecodeScanToDibCooperative, PRODUCT_SWITCHES);
}
