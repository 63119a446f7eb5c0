#include "window/direct_ui.h"

#include "ui/controls.h"

CDirectUI::~CDirectUI() = default;

ILayer* CDirectUI::CreateLayer(int type) {
    const int owner = GetId();
    switch (type) {
    case kLayerText: return new CTextUI(owner);
    case kLayerEdit: return new CEditUI(owner);
    case kLayerImage: return new CImageUI(owner);
    case kLayerButton: return new CButtonUI(owner);
    case kLayerCheck: return new CCheckUI(owner);
    case kLayerProgress: return new CProgressUI(owner);
    default: return CWindow::CreateLayer(type);
    }
}

void CDirectUI::OnLayerPressed(ILayer* layer) {
    if (layer && layer->GetID() == 0) StartWindowDrag(GetHandle());
}

void CDirectUI::OnLayerClicked(ILayer* layer) {
    if (!layer || layer->GetID() <= 0 || !IsWindow(GetHandle())) return;
    SendMessageW(GetHandle(), WM_COMMAND, MAKEWPARAM(layer->GetID() & 0xFFFF, 0),
                 reinterpret_cast<LPARAM>(layer));
}

int CDirectUI::AddLayerOfType(int type) {
    ILayer* layer = CreateLayer(type);
    if (!layer) return -1;
    int index = AppendLayer(layer);  // the window owns the layer from here
    if (index < 0) layer->Release();
    return index;
}
