// nulvane_trace_audit: lists every browsing trace in the stores of the
// current user (a Wine prefix or a Windows profile) as sorted, tab-separated
// UTF-8 lines, so that two listings taken before and after a session can be
// compared with diff. It only reads: no store is ever changed. (Reading a
// file to hash it moves its last-access time on file systems that keep
// one, so the time found is put back afterwards.)
//
// Usage: nulvane_trace_audit [--times] [--java-cache <folder>] [section ...]
//   sections: urlcache cookiefile cookieapi indexdat history flash java tif
//   (all of them when none is named)
//   --times  adds the volatile fields (access and sync times of cache
//            entries, file times of cache files) that a mere read can change
//
// Line format: <section> TAB <field> TAB <field> ...; a tab, line break or
// backslash inside a field is written as \t, \n, \r or \\. Paths inside a
// known store are written relative to it, with the store named first.
#include <windows.h>
#include <bcrypt.h>
#include <shlobj.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "framework/File.h"
#include "framework/Handles.h"
#include "framework/StdioFile.h"
#include "framework/String.h"
#include "framework/Time.h"
#include "tools/trace-audit/IndexDatLister.h"

namespace {

struct CStores {
    CString strCache;    // ...\INetCache or Temporary Internet Files
    CString strCookies;  // ...\INetCookies or Cookies
    CString strHistory;  // ...\History
    CString strAppData;  // ...\AppData\Roaming
    CString strFlashRoot;
    CString strJavaCache;
};

struct COptions {
    bool bTimes = false;
    CString strJavaCache;
    std::vector<CString> sections;
};

CString SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return CString();
    }
    return CString(path);
}

CString Escape(const CString& field)
{
    CString out;
    for (int i = 0; i < field.GetLength(); ++i) {
        const wchar_t ch = field[i];
        switch (ch) {
        case L'\t':
            out += L"\\t";
            break;
        case L'\n':
            out += L"\\n";
            break;
        case L'\r':
            out += L"\\r";
            break;
        case L'\\':
            out += L"\\\\";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

// One section's lines, sorted before they are written.
class CSection {
public:
    explicit CSection(const wchar_t* pszName, bool bUnique = false) : m_strName(pszName), m_bUnique(bUnique) {}

    void Add(std::initializer_list<CString> fields)
    {
        CString line = m_strName;
        for (const CString& field : fields) {
            line += L'\t';
            line += Escape(field);
        }
        m_lines.push_back(line);
    }

    void Write() const
    {
        std::vector<std::string> sorted;
        for (const CString& line : m_lines) {
            sorted.push_back(line.ToUtf8());
        }
        std::sort(sorted.begin(), sorted.end());
        if (m_bUnique) {
            sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        }
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        for (std::string& line : sorted) {
            line += '\n';
            DWORD written = 0;
            WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
    }

private:
    CString m_strName;
    bool m_bUnique;
    std::vector<CString> m_lines;
};

CString TimeText(const FILETIME& ft)
{
    if (ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0) {
        return L"0";
    }
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) {
        return FormatString(L"raw:%08X%08X", ft.dwHighDateTime, ft.dwLowDateTime);
    }
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return FormatString(L"%04u-%02u-%02uT%02u:%02u:%02u.%07luZ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                        st.wSecond, static_cast<unsigned long>(u.QuadPart % 10000000ULL));
}

// A path inside one of the stores, written as "<store>:<relative path>".
CString Relative(const CString& path, const CStores& stores)
{
    const std::pair<const wchar_t*, const CString*> roots[] = {
        {L"flash", &stores.strFlashRoot}, {L"java", &stores.strJavaCache}, {L"cache", &stores.strCache},
        {L"cookies", &stores.strCookies}, {L"history", &stores.strHistory}, {L"appdata", &stores.strAppData},
    };
    for (const auto& [name, root] : roots) {
        if (root->IsEmpty()) {
            continue;
        }
        const CString prefix = *root + L"\\";
        if (path.GetLength() > prefix.GetLength() && path.Left(prefix.GetLength()).CompareNoCase(prefix) == 0) {
            return CString(name) + L":" + path.Mid(prefix.GetLength());
        }
    }
    return path;
}

CString Sha256OfFile(const CString& path, ULONGLONG* pSize)
{
    *pSize = 0;
    CHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return FormatString(L"unreadable:%lu", GetLastError());
    }
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return L"nohash";
    }
    CString result = L"nohash";
    if (BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
        std::vector<UCHAR> buffer(65536);
        DWORD n = 0;
        while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0) {
            BCryptHashData(hash, buffer.data(), n, 0);
            *pSize += n;
        }
        UCHAR digest[32];
        if (BCryptFinishHash(hash, digest, sizeof(digest), 0) == 0) {
            result.Empty();
            for (UCHAR b : digest) {
                result.AppendFormat(L"%02x", b);
            }
        }
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(alg, 0);
    return result;
}

// Puts back a last-access time that hashing the file has moved, so that a
// listing leaves the store exactly as it found it.
void KeepLastAccess(const CString& path, const FILETIME& ftLastAccess)
{
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &now) ||
        CompareFileTime(&now.ftLastAccessTime, &ftLastAccess) == 0) {
        return;
    }
    CHandle file(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file) {
        SetFileTime(file.get(), nullptr, &ftLastAccess, nullptr);
    }
}

// Calls the visitor with every file below the folder (not folders), never
// following reparse points.
template <typename Visitor>
void WalkFiles(const CString& folder, Visitor&& visit)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(folder + L"\\*", &data));
    if (!find) {
        return;
    }
    do {
        const CString name(data.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        const CString path = folder + L"\\" + name;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                WalkFiles(path, visit);
            }
        } else {
            visit(path, data);
        }
    } while (FindNextFileW(find.get(), &data));
}

CString KindOf(DWORD type)
{
    if ((type & COOKIE_CACHE_ENTRY) != 0) {
        return L"cookie";
    }
    if ((type & URLHISTORY_CACHE_ENTRY) != 0) {
        return L"history";
    }
    if ((type & NORMAL_CACHE_ENTRY) != 0) {
        return L"cache";
    }
    return FormatString(L"type:0x%08X", type);
}

// Every entry of the URL cache, as the platform's own enumeration reports it.
template <typename Visitor>
bool EnumerateUrlCache(Visitor&& visit)
{
    DWORD size = 4096;
    std::vector<BYTE> buffer(size);
    auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    HANDLE find = FindFirstUrlCacheEntryW(nullptr, entry, &size);
    while (find == nullptr && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(size);
        entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
        find = FindFirstUrlCacheEntryW(nullptr, entry, &size);
    }
    if (find == nullptr) {
        return GetLastError() == ERROR_NO_MORE_ITEMS;
    }
    for (;;) {
        visit(*entry);
        size = static_cast<DWORD>(buffer.size());
        BOOL ok = FindNextUrlCacheEntryW(find, entry, &size);
        while (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            buffer.resize(size);
            entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
            ok = FindNextUrlCacheEntryW(find, entry, &size);
        }
        if (!ok) {
            break;
        }
    }
    const bool complete = GetLastError() == ERROR_NO_MORE_ITEMS;
    FindCloseUrlCache(find);
    return complete;
}

void ListUrlCache(const CStores& stores, const COptions& options, CSection& section)
{
    const bool complete = EnumerateUrlCache([&](const INTERNET_CACHE_ENTRY_INFOW& entry) {
        const CString url(entry.lpszSourceUrlName);
        const CString local = entry.lpszLocalFileName != nullptr ? Relative(entry.lpszLocalFileName, stores) : CString();
        ULARGE_INTEGER size;
        size.LowPart = entry.dwSizeLow;
        size.HighPart = entry.dwSizeHigh;
        if (options.bTimes) {
            section.Add({KindOf(entry.CacheEntryType), url, local, FormatString(L"%I64u", size.QuadPart),
                         TimeText(entry.LastModifiedTime), TimeText(entry.ExpireTime), TimeText(entry.LastAccessTime),
                         TimeText(entry.LastSyncTime)});
        } else {
            section.Add({KindOf(entry.CacheEntryType), url, local, FormatString(L"%I64u", size.QuadPart),
                         TimeText(entry.LastModifiedTime), TimeText(entry.ExpireTime)});
        }
    });
    if (!complete) {
        section.Add({L"error", FormatString(L"enumeration ended with error %lu", GetLastError())});
    }
}

// The cookie files in the platform's text format: records of at least seven
// lines (name, value, host/path, flags, expiry low, expiry high, ...) ended
// by a line "*".
void ListCookieFiles(const CStores& stores, CSection& section)
{
    if (stores.strCookies.IsEmpty()) {
        return;
    }
    WalkFiles(stores.strCookies, [&](const CString& path, const WIN32_FIND_DATAW&) {
        const CString name = path.Mid(path.ReverseFind(L'\\') + 1);
        if (name.CompareNoCase(L"index.dat") == 0 || name.CompareNoCase(L"desktop.ini") == 0) {
            return;
        }
        CStdioFile file;
        if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone)) {
            section.Add({L"unreadable", Relative(path, stores)});
            return;
        }
        try {
            std::vector<std::string> record;
            std::string line;
            while (file.ReadString(line)) {
                if (line != "*") {
                    record.push_back(line);
                    continue;
                }
                if (record.size() >= 6) {
                    FILETIME expiry;
                    expiry.dwLowDateTime = static_cast<DWORD>(strtoul(record[4].c_str(), nullptr, 10));
                    expiry.dwHighDateTime = static_cast<DWORD>(strtoul(record[5].c_str(), nullptr, 10));
                    section.Add({Relative(path, stores), CString::FromAnsi(record[0]), CString::FromAnsi(record[1]),
                                 CString::FromAnsi(record[2]), CString::FromAnsi(record[3]), TimeText(expiry)});
                } else {
                    section.Add({Relative(path, stores), L"short-record", FormatString(L"%d", int(record.size()))});
                }
                record.clear();
            }
            if (!record.empty()) {
                section.Add({Relative(path, stores), L"unterminated-record", CString::FromAnsi(record[0])});
            }
        } catch (const CFileException& e) {
            section.Add({L"unreadable", Relative(path, stores), FormatString(L"%ld", e.m_lOsError)});
        }
    });
}

// What the cookie API hands out for each address the cookie entries name
// ("Cookie:user@host/path" becomes http://host/path).
void ListCookieApi(CSection& section)
{
    std::vector<CString> urls;
    EnumerateUrlCache([&](const INTERNET_CACHE_ENTRY_INFOW& entry) {
        if ((entry.CacheEntryType & COOKIE_CACHE_ENTRY) == 0 || entry.lpszSourceUrlName == nullptr) {
            return;
        }
        const CString url(entry.lpszSourceUrlName);
        const int at = url.Find(L'@');
        if (at >= 0) {
            urls.push_back(L"http://" + url.Mid(at + 1));
        }
    });
    std::sort(urls.begin(), urls.end());
    urls.erase(std::unique(urls.begin(), urls.end()), urls.end());
    for (const CString& url : urls) {
        DWORD size = 0;
        InternetGetCookieW(url, nullptr, nullptr, &size);
        std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (InternetGetCookieW(url, nullptr, text.data(), &size)) {
            // The API joins cookies with "; " in its own order: sort them.
            std::vector<CString> cookies;
            const CString all(text.data());
            int pos = 0;
            for (CString part = all.Tokenize(L";", pos); pos >= 0; part = all.Tokenize(L";", pos)) {
                part.Trim();
                if (!part.IsEmpty()) {
                    cookies.push_back(part);
                }
            }
            for (const CString& cookie : cookies) {
                section.Add({url, cookie});
            }
        } else {
            section.Add({url, FormatString(L"none:%lu", GetLastError())});
        }
    }
}

void ListIndexDatFiles(const CStores& stores, CSection& section, CSection* pHistory)
{
    std::vector<CString> files;
    for (const CString* root : {&stores.strCache, &stores.strCookies, &stores.strHistory}) {
        if (root->IsEmpty()) {
            continue;
        }
        WalkFiles(*root, [&](const CString& path, const WIN32_FIND_DATAW&) {
            if (path.Mid(path.ReverseFind(L'\\') + 1).CompareNoCase(L"index.dat") == 0) {
                files.push_back(path);
            }
        });
    }
    for (const CString& file : files) {
        const CString where = Relative(file, stores);
        CString error;
        const bool ok = ListIndexDatRecords(file, [&](const CIndexDatRecord& record) {
            section.Add({where, record.strType, record.strUrl, record.strLocalFile});
            if (pHistory != nullptr && file.Left(stores.strHistory.GetLength()) == stores.strHistory &&
                (record.strType == L"URL" || record.strType == L"LEAK")) {
                pHistory->Add({record.strUrl});
            }
        }, error);
        if (!ok) {
            section.Add({where, L"error", error});
        }
    }
}

void ListFilesWithHashes(const CString& root, const CStores& stores, const COptions& options, bool bAlwaysTimes,
                         CSection& section)
{
    if (root.IsEmpty()) {
        return;
    }
    WalkFiles(root, [&](const CString& path, const WIN32_FIND_DATAW& data) {
        // The stores' own index files are listed record by record instead.
        if (path.Mid(path.ReverseFind(L'\\') + 1).CompareNoCase(L"index.dat") == 0) {
            return;
        }
        ULONGLONG size = 0;
        const CString hash = Sha256OfFile(path, &size);
        KeepLastAccess(path, data.ftLastAccessTime);
        if (bAlwaysTimes || options.bTimes) {
            section.Add({Relative(path, stores), FormatString(L"%I64u", size), hash, TimeText(data.ftCreationTime),
                         TimeText(data.ftLastAccessTime), TimeText(data.ftLastWriteTime)});
        } else {
            section.Add({Relative(path, stores), FormatString(L"%I64u", size), hash});
        }
    });
}

bool Wanted(const COptions& options, const wchar_t* pszSection)
{
    if (options.sections.empty()) {
        return true;
    }
    return std::find(options.sections.begin(), options.sections.end(), CString(pszSection)) != options.sections.end();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    COptions options;
    for (int i = 1; i < argc; ++i) {
        const CString arg(argv[i]);
        if (arg == L"--times") {
            options.bTimes = true;
        } else if (arg == L"--java-cache" && i + 1 < argc) {
            options.strJavaCache = argv[++i];
        } else if (arg.Left(2) == L"--") {
            fprintf(stderr, "unknown option %s\n", arg.ToUtf8().c_str());
            return 2;
        } else {
            options.sections.push_back(arg);
        }
    }

    CStores stores;
    stores.strCache = SpecialFolder(CSIDL_INTERNET_CACHE);
    stores.strCookies = SpecialFolder(CSIDL_COOKIES);
    stores.strHistory = SpecialFolder(CSIDL_HISTORY);
    stores.strAppData = SpecialFolder(CSIDL_APPDATA);
    if (!stores.strAppData.IsEmpty()) {
        stores.strFlashRoot = stores.strAppData + L"\\Macromedia\\Flash Player";
        stores.strJavaCache = stores.strAppData + L"\\Sun\\Java\\Deployment\\cache";
    }
    if (!options.strJavaCache.IsEmpty()) {
        stores.strJavaCache = options.strJavaCache;
        stores.strJavaCache.TrimRight(L"\\");
    }

    CSection urlcache(L"urlcache");
    CSection cookiefile(L"cookiefile");
    CSection cookieapi(L"cookieapi");
    CSection indexdat(L"indexdat");
    CSection history(L"history", true);
    CSection flash(L"flash");
    CSection java(L"java");
    CSection tif(L"tif");

    if (Wanted(options, L"urlcache")) {
        ListUrlCache(stores, options, urlcache);
    }
    if (Wanted(options, L"cookiefile")) {
        ListCookieFiles(stores, cookiefile);
    }
    if (Wanted(options, L"cookieapi")) {
        ListCookieApi(cookieapi);
    }
    if (Wanted(options, L"indexdat") || Wanted(options, L"history")) {
        ListIndexDatFiles(stores, indexdat, &history);
    }
    if (Wanted(options, L"flash")) {
        ListFilesWithHashes(stores.strFlashRoot, stores, options, true, flash);
    }
    if (Wanted(options, L"java")) {
        ListFilesWithHashes(stores.strJavaCache, stores, options, false, java);
    }
    if (Wanted(options, L"tif")) {
        ListFilesWithHashes(stores.strCache, stores, options, false, tif);
    }

    for (const auto& [name, section] : std::initializer_list<std::pair<const wchar_t*, const CSection*>>{
             {L"urlcache", &urlcache}, {L"cookiefile", &cookiefile}, {L"cookieapi", &cookieapi},
             {L"indexdat", &indexdat}, {L"history", &history}, {L"flash", &flash}, {L"java", &java},
             {L"tif", &tif}}) {
        if (Wanted(options, name)) {
            section->Write();
        }
    }
    return 0;
}
