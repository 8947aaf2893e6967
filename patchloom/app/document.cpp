#include "patchloom/app/document.h"

#include <algorithm>

#include "patchloom/app/patchloom_app.h"

bool CDocument::OnNewDocument() {
  m_strPathName.clear();
  m_strTitle = "Untitled";
  m_bModified = false;
  return true;
}

void CDocument::SetPathName(const std::string& path, bool addToRecentFiles) {
  m_strPathName = path;
  const std::size_t slash = path.find_last_of("/\\");
  m_strTitle = slash == std::string::npos ? path : path.substr(slash + 1);
  if (addToRecentFiles)
    if (CPatchloomApp* app = PatchloomApp()) app->AddToRecentFileList(path);
}

void CDocument::RemoveView(CDocumentView* view) {
  m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
}

void CDocument::UpdateAllViews() {
  ++m_nUpdates;
  for (CDocumentView* view : m_views) view->OnUpdate(*this);
}
