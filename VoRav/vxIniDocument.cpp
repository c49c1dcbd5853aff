// Objects, sections and the document: how they write themselves, where they
// register, and loading and saving a document.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpFileStream.h"

namespace kav {

// ---- TIniObject ----

void TIniObject::Save(TTextSaver* saver, int32_t level) {
  const TByteString& name = NameBytes();
  const TByteString& value = GetValueBytes();
  saver->WriteIndent(level);
  if (name.empty() && value.empty()) {
    saver->WriteBytes("object");
  } else {
    saver->WriteBytes("object ");
    saver->WriteBytes(name);
  }
  if (!value.empty()) {
    saver->WriteBytes(":");
    saver->WriteBytes(value);
  } else if (name.find(':') != TByteString::npos) {
    // The reader splits at the last ":": without a final one a name holding
    // ":" would come back as a name and a class.
    saver->WriteBytes(":");
  }
  saver->WriteLineBreak();
  TIniList::Save(saver, level + 2);
  saver->WriteIndent(level);
  saver->WriteBytes("end");
  saver->WriteLineBreak();
}

Ref<TIniList> TIniObject::NewOfSameKind() const { return MakeRef<TIniObject>(); }

void TIniObject::RegisterIndex(bool join) {
  TIniList* owner = Owner();
  KAV_ASSERT(owner != nullptr);
  if (join) {
    owner->NeedObjects()->Join(this);
  } else {
    KAV_ASSERT_MSG(owner->Objects() != nullptr, "TIniObject.ObjectIndex mismatch");
    owner->Objects()->Leave(this, "TIniObject.ObjectIndex mismatch");
  }
}

// ---- TIniSection ----

void TIniSection::Save(TTextSaver* saver, int32_t level) {
  saver->WriteBytes("[");
  saver->WriteBytes(NameBytes());
  saver->WriteBytes("]");
  saver->WriteLineBreak();
  TIniList::Save(saver, level);
}

Ref<TIniList> TIniSection::NewOfSameKind() const { return MakeRef<TIniSection>(); }

void TIniSection::RegisterIndex(bool join) {
  auto* file = dynamic_cast<TIniFile*>(Owner());
  if (!file) return;  // only a document keeps a section list
  if (join) {
    file->sections_->Join(this);
  } else {
    file->sections_->Leave(this, "TIniSection.SectionIndex mismatch");
  }
}

// ---- TIniFile ----

void TIniFile::Dispose() {
  Clear();
  TIniSection::Dispose();
}

void TIniFile::Save(TTextSaver* saver, int32_t level) { TIniList::Save(saver, level); }

Ref<TIniList> TIniFile::NewOfSameKind() const { return MakeRef<TIniFile>(); }

void TIniFile::Clear() {
  for (TIniList* s : sections_->items_) s->object_index_ = -1;
  sections_->items_.clear();
  TIniSection::Clear();
}

bool TIniFile::LoadFrom(TStream* stream) {
  Clear();
  if (!stream) return false;
  std::vector<uint8_t> bytes;
  try {
    if (StreamReadTextUTF8(stream, bytes, 0) == 0) return false;
  } catch (const EStreamError&) {
    return false;
  } catch (const EFileError&) {
    return false;
  }
  return LoadFromBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool TIniFile::LoadFromFile(const std::u16string& path) {
  Ref<TStream> stream;
  try {
    stream = ReadFile(path);
  } catch (const EFileError&) {
    return false;
  }
  if (!stream) {
    Clear();
    return false;
  }
  return LoadFrom(stream.get());
}

bool TIniFile::SaveToStream(TStream* stream, bool with_bom) {
  if (!stream) return false;
  auto saver = Ref<TStreamTextSaver>::Adopt(new TStreamTextSaver(stream, false));
  try {
    if (with_bom) saver->WriteBOM();
    Save(saver.get(), 0);
    saver->Close();
  } catch (const EStreamError&) {
    return false;
  } catch (const EFileError&) {
    return false;
  }
  return true;
}

namespace {

// A name beside `path` that no other save of this process uses.
std::u16string TemporaryNameBeside(const std::u16string& path) {
  static std::atomic<uint32_t> serial{0};
  char suffix[48];
  const int n = std::snprintf(suffix, sizeof suffix, ".%ld-%u.tmp", long(getpid()), unsigned(serial.fetch_add(1)));
  std::u16string name = path;
  for (int i = 0; i < n; ++i) name.push_back(char16_t(suffix[i]));
  return name;
}

// Writes the document to the file; false when any of it fails.
bool WriteWhole(TIniFile* doc, const std::u16string& file) {
  Ref<TStream> stream;
  try {
    stream = WriteFile(file, true);
    if (!stream || !doc->SaveToStream(stream.get(), true)) return false;
    stream->SetSize(stream->GetPosition());  // cut a longer old file
    if (auto* fs = dynamic_cast<TFileStream*>(stream.get())) fs->Close();  // reports late write errors
  } catch (const EStreamError&) {
    return false;
  } catch (const EFileError&) {
    return false;
  }
  return true;
}

}  // namespace

bool TIniFile::SaveToFile(const std::u16string& path) {
  const std::u16string temp = TemporaryNameBeside(path);
  if (WriteWhole(this, temp) && FileAPI()->MoveFileEx(temp, path, kMoveFileReplaceExisting)) return true;
  FileAPI()->DeleteFile(temp);
  return false;
}

std::string TIniFile::SaveToBytes() {
  auto saver = MakeRef<TBytesTextSaver>();
  Save(saver.get(), 0);
  return saver->TakeBytes();
}

}  // namespace kav
