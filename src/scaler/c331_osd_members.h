// Members of c331_manage for the on-screen display, its fonts and the chip's serial flash; included
// inside the class body of c331_manage.h.

    // ---- serial flash (bank 0x04 controller); 0 done, non-zero failed ----
    // Every flash sequence (set-up, address, FIFO, start, waits) holds flash_mutex from its first
    // register write to its last, and so do update_osd, update_font and load_bmp, which use the
    // same controller for their memory transfers: sequences of the protocol, the font upgrade and
    // the worker never interleave.
    std::recursive_mutex flash_mutex;
    int erase_flash(int fd, uint32_t firstSector, uint32_t count, int kind);
    int write_flash(int fd, uint32_t address, uint32_t length, const uint8_t* bytes);
    int read_flash(int fd, uint32_t address, uint32_t length, uint8_t* buffer);
    int osd_write_dma_sfl(int fd, uint32_t flashAddr, uint32_t dest, int target, uint32_t size);
    static constexpr uint32_t kFlashSize = 0x2000000;
    static constexpr uint32_t kWritePolls = 9999;  // reads per wait of a page program
    static constexpr uint32_t kErasePolls = 5000;  // erase-busy reads per unit (1 ms apart)
    static constexpr uint32_t kWipPolls = 1000;    // WIP and write-disable reads of an erase

    // ---- fonts ----
    static constexpr uint32_t PS_CHAR_ADDR_32ASCII = 0x000000, PS_CHAR_ADDR_32CHN = 0x010000;
    static constexpr uint32_t PS_CHAR_ADDR_64ASCII = 0x410000, PS_CHAR_ADDR_64CHN = 0x450000;
    static constexpr uint32_t kFontHeader = 0x23;
    static constexpr uint32_t PS_BMP_ADDR = 0xED9800, PS_BMPCP_ADDR = 0x10D3C00;
    static constexpr uint32_t kBmpWidth = 1920, kBmpHeight = 1080, kPaletteBytes = 816;
    static constexpr uint32_t PS_SFL_ADDR = 0x70000000, PS_MEM_OSD = 0x725C0000, PS_MEM_OSD1 = 0x74B80000;
    static constexpr uint32_t PS_FONT_ADDR = 0x7F000000;
    uint32_t g_font_addr_32ASCII = 0, g_font_addr_32CHN = 0, g_font_addr_64ASCII = 0, g_font_addr_64CHN = 0;
    uint32_t osd_font_flash[4] = {};  // data of 32EN, 32CN, 64EN, 64CN in the flash
    uint32_t osd_font_size[4] = {};

    // ---- on-screen display state ----
    int PS_BG_HACT = 0, PS_BG_VACT = 0, PS_BG_COLOR = 0, PS_BG_TRANS = 0;
    int PS_CHAR_HST = 0, PS_CHAR_VST = 0, PS_CHAR_COLOR = 0;
    int g_osd_mwi = 0, g_osd_mwi_shift = 0;
    int OSD_WIN[4] = {};              // HST, HW, VST, VW on the output
    int osd_char_space = 0, osd_line_space = 0, osd_control_flag = 0;
    static constexpr int kOsdLines = 64, kOsdLineChars = 128;
    uint8_t osd_text[kOsdLines][kOsdLineChars * 2] = {}; // high byte first, zero-ended lines
    int g_unicode_line = 0;
    bool osd_plane_stale = true;      // the plane was not drawn since its content changed
    // Lines of UCS-4 characters; the count is clamped to 0-64, a line to 127 characters.
    int vyrApi_OsdSetUnicode(int count, const uint32_t (*lines)[kOsdLineChars], const int* lengths);
    void calc_osd();
    void set_char_color(int fd);
    void gen_char(int fd);
    void load_bmp(int fd);
    bool osd_paint(int fd, uint32_t address, int width, int height, int index);
    bool osd_copy(int fd, uint32_t from, uint32_t to, int width, int height);
    bool osdEngineRun(int fd, uint8_t operation); // start 04:08 and wait for done; false: timed out
    uint32_t osdStrideBytes() const;
    bool osdTrace() const;
    bool flashTrace() const;
    // Flash controller steps, called with flash_mutex held.
    void flashPins(int fd);
    void flashAddressReg(int fd, uint32_t address);
    bool flashWait(int fd, uint32_t desc, uint8_t mask, uint8_t want, uint32_t polls, uint32_t pauseUs,
                   const char* timeoutText);
    bool flashClearWel(int fd, uint32_t polls);
    bool flashProgramWait(int fd);
