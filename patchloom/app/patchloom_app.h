// CPatchloomApp: the application object of Patchloom. It holds the file-format table
// that the documents open and save by, the recent-file list and the open documents
// (one multiple-document template: every opened file is a new document).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CPatchloomDoc;

// One image format the program knows.
struct ImageFileFormat {
  int type;                 // file-type code of the image library
  const char* description;  // file-dialog filter name
  const char* extension;    // default extension, without the point
  const char* patterns;     // file-dialog patterns
  bool canLoad;
  bool canSave;
};

class CPatchloomApp {
 public:
  static constexpr int kRecentFiles = 9;

  // Becomes the application object that documents reach through PatchloomApp().
  CPatchloomApp();
  ~CPatchloomApp();
  CPatchloomApp(const CPatchloomApp&) = delete;
  CPatchloomApp& operator=(const CPatchloomApp&) = delete;

  // Fills the format table; with a path, opens it as the first document. False when
  // that open fails.
  bool InitInstance(const std::string& commandLinePath = "");

  // BMP, JPEG, GIF, PNG in that order.
  const std::vector<ImageFileFormat>& GetFormats() const { return m_formats; }
  // The entry of a file-type code, or null.
  const ImageFileFormat* FindFormat(int type) const;
  // "Name (*.x)|*.x|...||" of the formats that can be saved (`saving`) or loaded.
  std::string GetFilter(bool saving) const;

  // Opens `path` as a new document, even when the file is open already (a command's
  // result replaces its file of the last run). Null, after telling the user, when the
  // document refuses the file.
  CPatchloomDoc* OpenDocumentFile(const std::string& path);
  // File New: an empty document.
  CPatchloomDoc* OnFileNew();
  // Closes and deletes the document.
  void CloseDocument(CPatchloomDoc* document);

  const std::vector<std::unique_ptr<CPatchloomDoc>>& GetDocuments() const { return m_documents; }
  // The document opened last (the active one), or null.
  CPatchloomDoc* GetActiveDocument() const;

  // Told of every document that joins the application (opened or new), so that a
  // windowed front end can give it a window.
  void SetDocumentAddedHandler(std::function<void(CPatchloomDoc&)> handler) {
    m_onDocumentAdded = std::move(handler);
  }

  void AddToRecentFileList(const std::string& path);
  const std::deque<std::string>& GetRecentFiles() const { return m_recentFiles; }

 private:
  CPatchloomDoc* AddDocument(std::unique_ptr<CPatchloomDoc> document);

  std::vector<ImageFileFormat> m_formats;
  std::vector<std::unique_ptr<CPatchloomDoc>> m_documents;
  std::deque<std::string> m_recentFiles;
  std::function<void(CPatchloomDoc&)> m_onDocumentAdded;
  CPatchloomApp* m_previous;
};

// The application object in force; null when none exists.
CPatchloomApp* PatchloomApp();
