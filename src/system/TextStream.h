// TextStream: buffered conversion between a byte source in some code page and UTF-16 text, with
// byte-order marks and line-end translation. TextFile reads and writes a system handle, TextMem a memory block.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "expr/ValueToken.h"

namespace brm {

class TextStream {
public:
    // Open flags. Bits 8-10 are the system's share mode as they are.
    enum : uint32_t {
        Read = 0x0,       // open existing
        Write = 0x1,      // create always, truncating
        Append = 0x2,     // open always, read and write, positioned at the end
        ReadWrite = 0x3,  // open always
        AccessMask = 0x3,
        EolCrLf = 0x4,    // reading turns CR LF into LF; writing turns LF into CR LF
        EolLoneCr = 0x8,  // reading turns a lone CR into LF
        BomUtf8 = 0x10,   // a new or empty file gets EF BB BF
        BomUtf16 = 0x20,  // a new or empty file gets FF FE (BomUtf8 wins when both are set)
        ShareRead = 0x100,
        ShareWrite = 0x200,
        ShareDelete = 0x400,
        ShareMask = 0x700,
        HandleMode = 0x10000000,  // an existing handle, never closed by the stream, never given a mark
    };

    // Holds read-ahead or pending write bytes, never both. Also the chunk size of every refill.
    static constexpr uint32_t kBufferSize = 8192;

    TextStream() = default;
    TextStream(const TextStream&) = delete;
    TextStream& operator=(const TextStream&) = delete;
    virtual ~TextStream();

    bool IsOpen() const { return m_open; }
    uint32_t Flags() const { return m_flags; }
    // The code page in use (never 0: 0 is replaced by the ANSI code page). Setting never writes a mark;
    // bit 31 is ignored.
    uint32_t CodePage() const { return m_codePage; }
    void SetCodePage(uint32_t codePage);

    // Decodes up to maxChars characters into buf and returns how many were stored (0 at the end of the
    // data). With stopAtLineEnd, stops right after the first LF stored. buf is zero-terminated when
    // fewer than maxChars characters were stored. Undecodable bytes become U+FFFD; a read never fails.
    uint32_t ReadText(Char* buf, uint32_t maxChars, bool stopAtLineEnd);
    // Encodes length characters of text (length 0: up to its terminator). Returns the bytes the text
    // produced, or 0 when the system wrote fewer bytes than asked (the pending bytes are then discarded).
    uint32_t WriteText(const Char* text, uint32_t length);
    // Raw bytes, through the same buffer. Each returns the bytes actually read or written.
    uint32_t ReadBytes(void* buf, uint32_t size);
    uint32_t WriteBytes(const void* data, uint32_t size);
    // Writes out pending bytes. False when the system wrote fewer than were pending.
    bool Flush();
    // Flushes, then closes the source (a handle in handle mode stays open). Safe on a closed stream.
    void Close();

    // Gives back unread read-ahead (the source's position moves back by its count), writes out pending
    // bytes and forgets the last character written, so that the source's position is the stream's.
    void Settle();
    // The position as the script sees it: the source's, plus pending write bytes, minus unread
    // read-ahead; -1 when it cannot be read.
    int64_t Position();
    // Settles, then moves the source's position (origin 0 start, 1 current, 2 end).
    bool SeekTo(int64_t distance, int origin);
    // The source's length, or the position when pending write bytes reach past it.
    int64_t StreamLength();
    // True when no read-ahead remains and the position is at or past the length (or cannot be read).
    bool AtEOF();

protected:
    // Runs OpenSource, then the code page, byte-order mark and append logic every stream shares.
    bool OpenStream(const void* source, uint32_t flags, uint32_t codePage);

    // The source's own operations. OpenSource may change the flags (a standard handle switches to handle mode).
    virtual bool OpenSource(const void* source, uint32_t& flags) = 0;
    virtual void CloseSource() = 0;
    virtual uint32_t ReadSource(void* buf, uint32_t bytes) = 0;
    virtual uint32_t WriteSource(const void* buf, uint32_t bytes) = 0;
    virtual bool SeekSource(int64_t distance, int origin) = 0;
    virtual int64_t TellSource() = 0;  // -1 on failure
    virtual int64_t LengthSource() = 0;

private:
    bool EnsureBuffer();
    uint32_t Unread() const { return m_readPos ? uint32_t(m_buffer.get() + m_length - m_readPos) : 0; }
    // Keeps the unread bytes, moved to the front, and reads more after them. False when nothing came.
    bool Fill();
    void DropReadAhead();
    // Decodes the character at the read position into one or two units and the bytes it takes. False
    // when the data read so far cuts the sequence short and more may follow.
    bool DecodeChar(Char units[2], uint32_t& count, uint32_t& size) const;
    // Whether the next character is a LF (refilling when it is cut); its size when it is.
    bool NextIsLf(uint32_t& size);
    // Appends a character's bytes to the pending write data; false when writing the buffer out failed.
    bool PutChar(const Char* text, uint32_t& i, uint32_t length, uint32_t& produced);

    uint32_t m_flags = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    uint32_t m_length = 0;    // bytes in the buffer
    uint32_t m_lastRead = 0;  // what the last low-level read returned; 0 = the end of the data was seen
    uint32_t m_codePage = 0;
    CPINFO m_cpInfo = {};
    Char m_lastWritten = 0;        // so that a LF opening the next write gets no second CR
    uint8_t* m_readPos = nullptr;  // next unread byte; null when the buffer holds write data or nothing
    // The surrogate pair at the read position has already given its high unit to a one-unit read.
    bool m_pairSplit = false;
    bool m_open = false;
};

// A stream over a system file handle. Closes the handle when closed or destroyed, except in handle mode.
class TextFile final : public TextStream {
public:
    TextFile() = default;
    ~TextFile() override;

    // "*" is standard input (read access) or standard output (write; append counts as write), "**"
    // standard error (write or append); these switch to handle mode. Any other use of them is a file
    // name. On failure the system error stays in GetLastError.
    bool Open(const Char* path, uint32_t flags, uint32_t codePage);
    // An already open handle (any type GetFileType knows); it is never closed by the stream.
    bool OpenHandle(HANDLE handle, uint32_t flags, uint32_t codePage);

    HANDLE Handle() const { return m_handle; }
    // Settles, sets the end of the file at length (SetEndOfFile) and puts the position back to the
    // smaller of the old position and the new length.
    bool SetLength(int64_t length);

protected:
    bool OpenSource(const void* source, uint32_t& flags) override;
    void CloseSource() override;
    uint32_t ReadSource(void* buf, uint32_t bytes) override;
    uint32_t WriteSource(const void* buf, uint32_t bytes) override;
    bool SeekSource(int64_t distance, int origin) override;
    int64_t TellSource() override;
    int64_t LengthSource() override;

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// A read-only stream over a memory block. A block it owns came from malloc and is freed when the
// stream is closed, reopened or destroyed.
class TextMem final : public TextStream {
public:
    TextMem() = default;
    ~TextMem() override;

    bool Open(const void* data, size_t bytes, bool owns, uint32_t flags, uint32_t codePage);

protected:
    bool OpenSource(const void* source, uint32_t& flags) override;
    void CloseSource() override;
    uint32_t ReadSource(void* buf, uint32_t bytes) override;
    uint32_t WriteSource(const void* buf, uint32_t bytes) override;
    bool SeekSource(int64_t distance, int origin) override;
    int64_t TellSource() override;
    int64_t LengthSource() override;

private:
    struct Block {
        const void* data;
        size_t bytes;
        bool owns;
    };
    const uint8_t* m_data = nullptr;
    size_t m_bytes = 0;
    size_t m_offset = 0;
    bool m_owns = false;
};

}  // namespace brm
