#pragma once
// The one store for the sealed policy document (PatchPolicy.xml) and the task
// list (TaskList.xml): a `patchs` root holding `patch` entries keyed by their
// `policyid`, whose data are attributes of the entries' child elements.
//
// Writing. Every change is written through to the file at once (printed,
// sealed and atomically replaced), so a state change is on disk before the
// program it leads to starts and before the next stage reads it. Where
// several changes belong together with nothing run in between (a new entry's
// attributes, the alignment of the task list with a policy), a Batch holds
// the writes back and writes the file once when it ends: a reader, or a
// process started after a crash, sees all of them or none, never an entry
// half made.
//
// Cost. Entries are found through an index by id, so a lookup or a change
// costs the same whatever the number of entries; only a write costs in
// proportion to the document.
//
// Threads: not thread-safe; one object is used by one thread. Two objects on
// the same file must not be used at the same time.
// Failures: answered as false or "" and, where the seal cannot be made or
// opened, logged on channel "OBXConsole" (source "PatchPolicyManager").
// Exceptions: none of its own; only allocation failures escape.
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class TiXmlDocument;
class TiXmlElement;

namespace obx {

class PatchPolicyManager {
 public:
  PatchPolicyManager();
  ~PatchPolicyManager();
  PatchPolicyManager(const PatchPolicyManager&) = delete;
  PatchPolicyManager& operator=(const PatchPolicyManager&) = delete;

  // Replaces the held document by the one in the sealed file at `path` (a
  // Windows-style path) and fills `policyIds` and the version. True only when
  // the file opened to a `patchs` root holding at least one `patch` element;
  // a text beyond the bounds of text/XmlLimits.h counts as not XML;
  // the version is taken even when there is no `patch`. When the file cannot
  // be read or opened and `create` is set, the document becomes an empty
  // `patchs` root that is saved at once, and the result is that of the save.
  // A null `path` gives false.
  bool Load(const char* path, bool create);
  bool Load(const std::string& path, bool create) { return Load(path.c_str(), create); }

  // Load, except that a store holding the file at `path` as it is on disk
  // (loaded or last written by this store, the file's bytes unchanged
  // since, no change held back or left unwritten) keeps its document instead of
  // parsing the file again; `policyIds`, the version and the result are then
  // those a Load would give.
  bool Reload(const std::string& path, bool create);

  // How many times a document of the file at `path` was parsed by Load, by
  // every store of the process: lets a test see what a cycle costs.
  static unsigned long ParsesOf(const std::string& path);

  // The attribute of the named child element of the entry `id`: the first
  // entry with that id that has such a child is used. "" when anything is
  // missing, also when `element` or `attribute` is null.
  std::string GetAttribute(const std::string& id, const char* element, const char* attribute) const;

  // Sets the attribute on the first entry with `id`, creating the entry (last
  // child of the root) and the element (last child of the entry) when
  // missing, then writes the whole document to the file. A null `value` sets
  // "" on an existing entry and sets nothing on a new one; a null `element`
  // on an existing entry changes nothing and answers true. All three null, no
  // document or no `patchs` root: false and nothing written. Otherwise the
  // result is whether the file was written.
  bool SetAttribute(const std::string& id, const char* element, const char* attribute,
                    const char* value);

  // Removes the first entry with `id` and everything in it, then writes the
  // file. False, with the file untouched, when there is no such entry.
  bool RemovePatch(const std::string& id);

  // Holds back the writes of SetAttribute and RemovePatch for its lifetime
  // (they answer true meanwhile) and writes the document once at its end
  // when anything changed. Batches nest; the outermost one writes.
  class Batch {
   public:
    explicit Batch(PatchPolicyManager& store) : store_(store) { ++store_.batchDepth_; }
    ~Batch() { End(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    // Ends the batch now; the result is whether the held-back changes were
    // written (true when there were none).
    bool End();
    // Writes the changes held back so far and goes on holding back later
    // ones; the result as for End. For a change that must be on disk before
    // something outside the store happens.
    bool Flush();
    // Ends the batch without writing what it held back (the file keeps its
    // last written state; the document in memory keeps the changes).
    void Discard();

   private:
    PatchPolicyManager& store_;
    bool ended_ = false;
  };

  // The root's `version` attribute at the last load, "" when absent.
  std::string GetVersion() const { return version_; }

  // Ids found at the last load, ascending in byte order. Not updated by
  // SetAttribute or RemovePatch.
  std::set<std::string> policyIds;

 private:
  // The opened text of the file (its bytes kept in `sealed_`); false when it
  // cannot be read or opens to "".
  bool ReadAndOpen(std::string& plain);
  // Writes the document, or inside a batch notes that it must be written.
  bool Save();
  // Prints, seals and atomically replaces the file: a failed seal or write
  // answers false and leaves the old file whole.
  bool Write();
  TiXmlElement* Root() const;
  // The first entry with `id`, walking from the root's first `patch` element
  // through every later sibling element.
  TiXmlElement* FindEntry(const std::string& id) const;
  // Rebuilds the index from the document.
  void Reindex();
  // Index, version and `policyIds` from the document; the result of Load
  // for a file that opened.
  bool TakeDocument();

  std::unique_ptr<TiXmlDocument> document_;
  // Every entry of the walk above, by id, in document order.
  std::unordered_map<std::string, std::vector<TiXmlElement*>> index_;
  int batchDepth_ = 0;
  bool unsaved_ = false;  // a change held back by a batch
  std::string filePath_;
  std::string version_;
  // The file's bytes as last read or written, and whether the document
  // still is what they hold (false after a change that was not written).
  std::string sealed_;
  bool matchesFile_ = false;
};

}  // namespace obx
