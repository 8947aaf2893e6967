// The document side of Patchloom's document/view frame: a document's path, title and
// modified flag, the views that show it, and the state a menu item gets from a command
// update handler.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The menu item or tool-bar button an update handler sets.
class CCmdUI {
 public:
  explicit CCmdUI(int id) : m_nID(id) {}
  void Enable(bool on = true) { m_bEnabled = on; }
  void SetCheck(int check = 1) { m_nCheck = check; }

  int m_nID;
  bool m_bEnabled = true;
  int m_nCheck = 0;
};

class CDocument;

// Whatever shows a document; told when the document changed.
class CDocumentView {
 public:
  virtual ~CDocumentView() = default;
  virtual void OnUpdate(CDocument& document) = 0;
};

class CDocument {
 public:
  CDocument() = default;
  virtual ~CDocument() = default;
  CDocument(const CDocument&) = delete;
  CDocument& operator=(const CDocument&) = delete;

  // A fresh untitled document; true on success.
  virtual bool OnNewDocument();
  virtual bool OnOpenDocument(const std::string& path) = 0;
  virtual bool OnSaveDocument(const std::string& path) = 0;
  // Saves under `pathName`, or asks for a name when it is null (Save As); `replace`
  // makes the saved file the document's own.
  virtual bool DoSave(const std::optional<std::string>& pathName, bool replace = true) = 0;
  // Called just before the document goes away.
  virtual void OnCloseDocument() {}

  const std::string& GetPathName() const { return m_strPathName; }
  // Also makes the file name the title and enters the path in the recent-file list.
  void SetPathName(const std::string& path, bool addToRecentFiles = true);
  const std::string& GetTitle() const { return m_strTitle; }
  void SetTitle(const std::string& title) { m_strTitle = title; }
  bool IsModified() const { return m_bModified; }
  void SetModifiedFlag(bool modified = true) { m_bModified = modified; }

  void AddView(CDocumentView* view) { m_views.push_back(view); }
  void RemoveView(CDocumentView* view);
  void UpdateAllViews();
  // How often UpdateAllViews ran since the document was made.
  int GetUpdateCount() const { return m_nUpdates; }

 private:
  std::string m_strPathName;
  std::string m_strTitle = "Untitled";
  bool m_bModified = false;
  std::vector<CDocumentView*> m_views;
  int m_nUpdates = 0;
};
