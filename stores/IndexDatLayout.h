#pragma once

#include <windows.h>

// The parts of an index.dat store that the parser reads. All integers are
// unsigned little-endian. The header's signature text, version and
// file-size field are not consulted; the allocation bitmap (at 0x250) and
// the hash tables are never written.
namespace IndexDat {

// ---- File header, offsets from the start of the file ----
constexpr DWORD kFirstHashTableOffset = 0x20;  // 4: where the record scan starts
constexpr DWORD kDirectoryCount = 0x48;        // 4: number of cache directories, N
constexpr DWORD kDirectoryTable = 0x4C;        // N entries of kDirectoryEntrySize, no gaps
constexpr DWORD kDirectoryEntrySize = 12;
//   entry +0, 4: number of files in the directory (not read)
constexpr DWORD kDirectoryNameInEntry = 4;     // 8: ANSI name, no terminator
constexpr DWORD kDirectoryNameLength = 8;
// A record's directory index is one byte, so no more directories than this
// can ever be named, whatever the count says.
constexpr DWORD kMaxAddressableDirectories = 256;
// The allocation bitmap: one bit per block of the record area, bit n of
// byte n / 8 for the block at kFirstBlock + n * kBlockSize; a set bit marks
// the block in use. It runs up to the record area.
constexpr DWORD kAllocationBitmap = 0x250;
constexpr DWORD kFirstBlock = 0x4000;

// ---- Records: each begins on a block, offsets from its start ----
constexpr DWORD kBlockSize = 128;
constexpr DWORD kRecordType = 0x00;       // 4: one of the signatures below
constexpr DWORD kRecordBlockCount = 0x04; // 4: length in blocks; 0 counts as 1
constexpr DWORD kRecordFirstWord = 0x08;  // 4: a released-record marker, if released
constexpr DWORD kRecordHeaderSize = 0x0C; // what must lie in the file to read a record

// "URL " and "LEAK" records only:
constexpr DWORD kUrlLastAccess = 0x10;    // 8: FILETIME, UTC
constexpr DWORD kUrlDirectoryIndex = 0x38; // 1: directory holding the local copy
constexpr DWORD kUrlFileNameOffset = 0x3C; // 4: from the record's start; 0 = no local file
constexpr DWORD kUrlLocation = 0x68;      // zero-terminated ANSI URL

// ---- Record types: four ASCII characters read as an integer ----
constexpr DWORD kSignatureUrl = 0x204C5255;   // "URL "
constexpr DWORD kSignatureLeak = 0x4B41454C;  // "LEAK": deleted while its file was in use
constexpr DWORD kSignatureRedirect = 0x52444552; // "REDR"
constexpr DWORD kSignatureHash = 0x48534148;  // "HASH": a hash table, never written

// ---- First body word of a record the cache has released ----
constexpr DWORD kReleasedMarker = 0x0BADF00D;
constexpr DWORD kReleasedMarkerAlt = 0xDEADBEEF;

}  // namespace IndexDat
