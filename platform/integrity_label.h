// The mandatory label that keeps processes below medium integrity (a
// browser's sandbox, a low-integrity helper of the user) out of a file or
// folder of the user's: medium integrity, no read-up, no write-up. A read
// handle is all it takes to hold a byte-range lock on a file or to keep it
// open without sharing, and the system lets a lower-integrity process read
// what is not labelled so.
#pragma once

#include <windows.h>

#include <string>

namespace ulvex {

/// A security descriptor that holds the label and nothing else: no owner
/// and no access list, so an object made with it takes its access rights
/// from its folder as usual.
class MediumLabel {
 public:
  MediumLabel();
  MediumLabel(const MediumLabel&) = delete;
  MediumLabel& operator=(const MediumLabel&) = delete;

  /// For CreateFileW and CreateDirectoryW; null when the label could not
  /// be made (the object then gets the default security).
  SECURITY_ATTRIBUTES* attributes() { return made_ ? &attributes_ : nullptr; }
  /// The list that holds the label; null when it could not be made.
  PACL labels() { return made_ ? reinterpret_cast<PACL>(acl_) : nullptr; }

 private:
  bool made_ = false;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  DWORD acl_[32] = {};  // DWORD-aligned, room for one label entry
  BYTE sid_[SECURITY_MAX_SID_SIZE] = {};
};

/// True when descriptor holds a mandatory label of medium integrity that
/// forbids both reading and writing up.
bool CarriesMediumLabel(PSECURITY_DESCRIPTOR descriptor);

/// Gives the file or folder at path the label when it lacks it (made
/// before the label was, by an older version, or by hand); true when it
/// carries the label afterwards, as far as the system says. Changing the
/// label needs the right to change the owner, which the user has on what
/// the user made.
bool GiveMediumLabel(const std::wstring& path);

}  // namespace ulvex
