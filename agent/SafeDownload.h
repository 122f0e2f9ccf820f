// A download that replaces its target only when whole: the body goes to a hidden partial file beside the
// target, with a record of where it came from so that a later attempt can resume it.
#pragma once

#include "agent/ExpectedSize.h"
#include "agent/LocalFile.h"
#include "web/BodyConsumer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamsel::agent {

// What proves a reply's bytes are of the same file as another's: its strong ETag, else its
// Last-Modified; empty when it has neither.
std::string ValidatorOf(const web::ReplyHead& head);

// The target and the two files that stand beside it while a download is under way. Same folder, so
// that the final rename stays on one volume.
struct SafePaths {
    std::wstring target;
    std::wstring partial;  // the body so far
    std::wstring record;   // where it came from: a digest of the URL, the validator and the whole length
};
// "<name>.tamsel-partial" and "<name>.tamsel-resume" beside the target while they fit a name's 255
// characters; beside a longer name ".tamsel-<16 hex>.partial" and ".resume", hex a digest of the name.
SafePaths SafePathsFor(const std::wstring& target);
// SafePathsFor's names, or the hashed ones when a name of those cannot be deleted without reaching
// something else (a link the platform follows, a folder); nothing when neither pair is usable.
std::optional<SafePaths> UsablePathsFor(const std::wstring& target);

// A slice of the file that had arrived whole ahead of the partial file's end when a download over
// several connections broke off: kept in the partial file at its offset, and named in the record.
struct KeptSlice {
    uint64_t first = 0;
    uint64_t end = 0;  // one past its last byte
};

// What an earlier attempt left that a new one may continue: the partial file's length, and the
// validator and whole length that the server must still answer with.
struct ResumePoint {
    uint64_t offset = 0;
    std::string validator;
    uint64_t whole = 0;
    // Whole slices past offset, in order and apart, ending where the partial file ends: only the gaps
    // between them are still to come.
    std::vector<KeptSlice> kept;
};

// A kept slice and its bytes, to be written.
struct SliceBytes {
    KeptSlice slice;
    const char* bytes = nullptr;
};

// Writes each slice's bytes into the partial file at its offset past the file's end, `prefix`, and names
// them with prefix in the record ("kept P a-b c-d"), so that a resume asks only for the gaps. False, the
// partial file cut back to prefix and the record without them, when either could not be done. No
// slices: the record forgets any it named (the file was cut back to a prefix since).
bool KeepSlices(const SafePaths& paths, uint64_t prefix, const std::vector<SliceBytes>& slices);

// The resume point of the partial file, when its record was written for the same URL and holds a
// validator free of control characters and a whole length, and the file is a plain file of its own
// (one name, no link) no longer than that length; otherwise nothing (start over). A record that names
// kept slices is taken only when they are in order, not overlapping, the first past a prefix above 0
// (a gap between them), within the whole
// length, and the file ends where the last one does; the point is then the prefix, with the slices. A whole file resumes
// at its last byte, which proves cheaply that the server still has the same file.
std::optional<ResumePoint> FindResumePoint(const SafePaths& paths, const std::string& url);

// A resume point with no validator, for a download whose digest proves the whole file (so that bytes
// from one source may be continued from another, whose validators differ): the partial file's length,
// when it is a plain file of its own no longer than whole; a whole file resumes at its last byte. A part
// continued from it may splice two files (MaySplice), which only the digest tells.
std::optional<ResumePoint> DigestResumePoint(const SafePaths& paths, uint64_t whole);

class PartialDownload final : public web::BodyConsumer {
public:
    // keepRecord writes the record for a later resume.
    PartialDownload(const SafePaths& paths, std::string url, std::optional<ResumePoint> resume,
                    ExpectedSize expected, bool keepRecord);
    // Left neither replaced nor abandoned (an allocation failed on the way): abandoned.
    ~PartialDownload() override;
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    // A 200 makes the partial file anew (the server ignored the range, or the file changed); a 206 whose
    // range starts at the resume point, for the same whole length and validator (any, for a point
    // without one), goes on there.
    // Anything else is declined: a 416 or a part that does not fit asks for a start over, a whole
    // length other than the expected one is a size mismatch, a read-only target or a partial file that
    // cannot be opened is refused.
    bool StartReply(const web::ReplyHead& head) override;
    bool Write(const char* data, size_t size) override { return m_file.Write(data, size); }

    // Whether the reply is a 206 that goes on at the resume point, of the very file recorded.
    bool Continues(const web::ReplyHead& head) const;
    // The bytes of an earlier attempt that a reply which Continues goes on from.
    uint64_t ResumeOffset() const noexcept { return m_resume ? m_resume->offset : 0; }
    const std::wstring& Path() const noexcept { return m_paths.partial; }

    bool StartOver() const noexcept { return m_startOver; }
    // The partial file was made or opened by this download; and whether a 206 continued it.
    bool Opened() const noexcept { return m_opened; }
    bool Continued() const noexcept { return m_continued; }
    // The reply went on from an earlier attempt's bytes under a validator that cannot tell two versions
    // of the file apart: the whole may be two files spliced.
    bool MaySplice() const noexcept { return m_maySplice; }
    bool SizeMismatch() const noexcept { return m_sizeMismatch; }
    // The reply was declined for a local reason: the file, not the server, is at fault.
    bool Refused() const noexcept { return m_refused; }
    uint64_t Size() const noexcept { return m_file.Size(); }
    // The whole length the reply announced, when it did.
    std::optional<uint64_t> Whole() const noexcept { return m_whole; }

    // Puts the finished partial file in the target's place, in one step that leaves either the old
    // target or the new one (a rename written through to the disk), and removes the record. The data
    // itself is not forced to the disk first: on a fast link that would cost a third of the speed.
    // False when that could not be done.
    bool Replace() noexcept;
    // After a failure or a cancel: closes the partial file; when this download opened it, removes it and
    // its record unless a record is kept to resume from and the bytes are worth resuming (resumable
    // false: they are not). One it never opened, and the record beside it, stay as they were.
    void Abandon(bool resumable = true) noexcept;
    // Before any reply reached it: leaves the partial file and its record as they were.
    void LeaveAlone() noexcept { m_settled = true; }

private:
    SafePaths m_paths;
    std::string m_url;
    std::optional<ResumePoint> m_resume;
    ExpectedSize m_expected;
    bool m_keepRecord;
    LocalFile m_file;
    std::optional<uint64_t> m_whole;
    bool m_startOver = false;
    bool m_maySplice = false;
    bool m_sizeMismatch = false;
    bool m_refused = false;
    bool m_settled = false;  // replaced or abandoned
    bool m_opened = false;   // the partial file was made or opened by this download
    bool m_continued = false;
};

// A path that names a folder: one that ends in a separator, or an existing directory.
bool NamesFolder(const wchar_t* path);

// The path as the platform's wide file calls take it: absolute, with the long-path prefix when it, or
// a partial file beside it, would not fit MAX_PATH. Empty when it cannot be made absolute.
std::wstring PlatformPath(const wchar_t* path);

}  // namespace tamsel::agent
