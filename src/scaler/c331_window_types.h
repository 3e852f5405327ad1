#pragma once
// Window geometry and window tables of the scaler chip model.
#include <cstdint>
#include <string>

struct ST_RECT {
    int x;
    int y;
    int w;
    int h;
};

// A rectangle: start and size across, start and size down.
struct _ImageWindowDef_st {
    int hst;
    int hw;
    int vst;
    int vw;
};

// One port tile's share of a window. Entry i holds column i's horizontal and row i's vertical
// values; the flags mark the first and last tiles the window reaches.
struct _ImageWindowDef2_St {
    int hst;
    int hw;
    int vst;
    int vw;
    uint8_t hFirst;
    uint8_t hLast;
    uint8_t vFirst;
    uint8_t vLast;
};

// Ratios in 16.16 fixed point; mode 0 none, 1 shrink, 2 zoom.
struct _ScalingSt {
    int hmode;
    int vmode;
    int hshrink;
    int vshrink;
    int hzoom;
    int vzoom;
};

// One window slot as the chip shows it.
struct ST_WIN_INFO {
    uint16_t x, y, w, h; // on the canvas, canvas offsets included
    uint8_t rotate;      // mirror bits 0-1
    uint8_t output;      // bit 0 black, bit 1 freeze, as last applied
    uint8_t winEn;
    uint8_t input;       // source id 0-5
    uint8_t cropIdx;
    uint8_t pri;         // layer priority 0-5
    uint8_t ochPosLst[8]; // output channels by grid position, 255 none
    uint8_t ochLst[8];    // output channels covered, 255 none
    uint8_t ochHCnt;      // channels across; 0 = not allocated
    uint8_t ochVCnt;      // channels down
};

struct ST_MWIN {
    int wincnt;
    ST_RECT* win; // wincnt rectangles
};

// Bookkeeping of the window programming that nothing outside it reads.
struct C331WindowState {
    ST_RECT rects[6] = {};        // the block's windows
    ST_RECT defaultRects[6] = {}; // the fall-back layout
    bool fellBack = false;        // showing the single full-panel window
    int recordSlot[6] = {-1, -1, -1, -1, -1, -1}; // window slot of each record, -1 not shown
    int slotRecord[6] = {-1, -1, -1, -1, -1, -1};
    // the window records and priorities of the last layout the chip took
    uint8_t acceptedRecords[6 * 26] = {};
    uint8_t acceptedPriorities[12] = {};
    bool acceptedValid = false;
    int sel[6][5] = {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4},
                     {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}}; // frame buffers capture and display take in turn
    int iactHst[6] = {};          // crop origin of the capture in its input
    int iactVst[6] = {};
    int frozen[6] = {};
    int vmode[6] = {};            // vertical mode byte: row code 5 and read-address correction
    int stitchWord[6][2] = {};    // stitching change words
    // layer tables
    int winOch[6][8] = {};        // output channels of each window, -1 ends
    int groupMember[8][8] = {};   // member channels of each layer group, sorted by layer
    int groupCount[8] = {};
    // taken at the end of every re-programming, for the next freeze
    int savedWinNum[8] = {};
    int savedWinIch[6][8] = {};
    bool saved = false;
    int fadeWin = -1;             // window of the last fade, for tests and traces
    // windows whose tiles were last programmed dark (a zoom across a channel seam), and why
    bool dark[6] = {};
    std::string darkWhy[6];
    // records closed for that (their input changed under them): what each held and what its input
    // showed, kept until a writer changes the record or the window is shown again
    bool closed[6] = {};
    uint8_t closedRecord[6][26] = {};
    _ImageWindowDef_st closedArea[6] = {};
};
