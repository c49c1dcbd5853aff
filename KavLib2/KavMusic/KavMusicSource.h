// The show's music as the music player schedules it: the play list (the
// project's music track reduced to one composite description on the show's
// time line) and, per slide, the slide's sound comment as its own composite
// description. Read once per opened show.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavMusic/KavCompositeParams.h"

namespace kav {

struct TPlayListEntry {
  std::u16string FileName;  // a composite description
  double Start = 0;         // on the show's time line, ms
  double Offset = 0;        // into the description, ms
  double Duration = 0;
};

class TPlayList {
 public:
  std::vector<TPlayListEntry> Entries;
  double Length = 0;  // the largest start + duration
  bool Repeat = false;

  // Entry k; a repeating list continues with entry k mod n moved by whole
  // list lengths. An empty entry past the end or for an empty list.
  TPlayListEntry Entry(int64_t k) const;
  int64_t Count() const { return int64_t(Entries.size()); }
  // A repeating list of one entry that spans the whole list from the start
  // of its description: its repetitions are one sound that loops.
  bool LoopsAsOne() const {
    return Repeat && Entries.size() == 1 && Entries[0].Start == 0 && Entries[0].Offset == 0 &&
           Entries[0].Duration == Length && Length > 0;
  }
};

struct TSlideMusicInfo {
  TSlideTiming Timing;
  int32_t NextSlide = 0;      // 0 for the last slide
  std::u16string Comment;     // a composite description, or empty
  double CommentLength = 0;   // ms
  // The slide's own play list, its times from the slide's start. The
  // project text has no key for one, so the reader leaves it empty.
  TPlayList PlayList;
};

// Reads a "Music" object into one track description. `linked` maps item
// GUIDs to their slide's synchronised start.
class TMusicOptionsReader {
 public:
  // Fills `track` from the music object; the result is the track's length
  // (-1 when nothing was read).
  static int32_t Read(TIniList* music, const std::map<std::u16string, int32_t>& linked, TCompositeParams& track,
                      bool& repeat);
  // One sound comment (a "TSoundComment" object) as a description placed at
  // its pause; `limit` (> 0) cuts its length.
  static int32_t ReadComment(TIniList* comment, int32_t limit, TCompositeParams& out);
};

class TKavMusicSource : public TRefObject {
 public:
  // Raises an assertion without a source.
  explicit TKavMusicSource(TKavSource* source);

  bool HasMusic() const { return has_music_; }
  bool SyncMode() const { return sync_mode_; }
  bool Repeat() const { return play_list_.Repeat; }
  bool CutComments() const { return cut_comments_; }
  int32_t SlideCount() const { return int32_t(slides_.size()); }
  const TSlideMusicInfo& Slide(int32_t index) const { return slides_.at(size_t(index)); }
  // For the one who fills a slide's own play list (before the music
  // threads start).
  TSlideMusicInfo& Slide(int32_t index) { return slides_.at(size_t(index)); }
  const TPlayList& PlayList() const { return play_list_; }
  double PlayListLength() const { return play_list_.Length; }
  TKavSource* Source() const { return source_.get(); }

 private:
  Ref<TKavSource> source_;
  bool has_music_ = false;
  bool sync_mode_ = false;
  bool cut_comments_ = true;
  std::vector<TSlideMusicInfo> slides_;
  TPlayList play_list_;
};

}  // namespace kav
