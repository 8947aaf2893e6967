#include "patchloom/app/patchloom_app.h"

#include <algorithm>

#include "patchloom/app/patchloom_doc.h"
#include "patchloom/image/image.h"
#include "platform/ui.h"

namespace {
CPatchloomApp* g_app = nullptr;
}  // namespace

CPatchloomApp* PatchloomApp() { return g_app; }

CPatchloomApp::CPatchloomApp() : m_previous(g_app) { g_app = this; }

CPatchloomApp::~CPatchloomApp() {
  // Closing clears the controllable exemplar of a document that holds it.
  while (!m_documents.empty()) CloseDocument(m_documents.back().get());
  g_app = m_previous;
}

bool CPatchloomApp::InitInstance(const std::string& commandLinePath) {
  m_formats = {
      {kImageTypeBmp, "Bitmap Files (*.bmp)", "bmp", "*.bmp", true, true},
      {kImageTypeJpeg, "JPEG Files (*.jpg;*.jpeg)", "jpg", "*.jpg;*.jpeg", true, true},
      {kImageTypeGif, "GIF Files (*.gif)", "gif", "*.gif", true, false},
      {kImageTypePng, "PNG Files (*.png)", "png", "*.png", true, true},
  };
  if (commandLinePath.empty()) return true;
  return OpenDocumentFile(commandLinePath) != nullptr;
}

const ImageFileFormat* CPatchloomApp::FindFormat(int type) const {
  for (const ImageFileFormat& format : m_formats)
    if (format.type == type) return &format;
  return nullptr;
}

std::string CPatchloomApp::GetFilter(bool saving) const {
  std::string filter;
  for (const ImageFileFormat& format : m_formats) {
    if (saving ? !format.canSave : !format.canLoad) continue;
    filter += std::string(format.description) + "|" + format.patterns + "|";
  }
  return filter + "|";
}

CPatchloomDoc* CPatchloomApp::OpenDocumentFile(const std::string& path) {
  auto document = CPatchloomDoc::CreateObject();
  if (!document->OnOpenDocument(path)) {
    platform::ui().messageBox("Failed to open document.");
    // The reason beside the message: the console prints it on the error stream.
    platform::ui().progress("patchloom: " + document->GetOpenError());
    return nullptr;
  }
  document->SetPathName(path);
  return AddDocument(std::move(document));
}

CPatchloomDoc* CPatchloomApp::OnFileNew() {
  auto document = CPatchloomDoc::CreateObject();
  if (!document->OnNewDocument()) return nullptr;
  return AddDocument(std::move(document));
}

CPatchloomDoc* CPatchloomApp::AddDocument(std::unique_ptr<CPatchloomDoc> document) {
  m_documents.push_back(std::move(document));
  CPatchloomDoc* added = m_documents.back().get();
  if (m_onDocumentAdded) m_onDocumentAdded(*added);
  return added;
}

void CPatchloomApp::CloseDocument(CPatchloomDoc* document) {
  auto it = std::find_if(m_documents.begin(), m_documents.end(),
                         [document](const auto& d) { return d.get() == document; });
  if (it == m_documents.end()) return;
  (*it)->OnCloseDocument();
  m_documents.erase(it);
}

CPatchloomDoc* CPatchloomApp::GetActiveDocument() const {
  return m_documents.empty() ? nullptr : m_documents.back().get();
}

void CPatchloomApp::AddToRecentFileList(const std::string& path) {
  m_recentFiles.erase(std::remove(m_recentFiles.begin(), m_recentFiles.end(), path),
                      m_recentFiles.end());
  m_recentFiles.push_front(path);
  if (m_recentFiles.size() > kRecentFiles) m_recentFiles.pop_back();
}
