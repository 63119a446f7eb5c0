// The pictures the installer window reads from its skin and how it draws
// each: the number of states stacked in it, the size it is drawn at, and the
// sizes that fit its place. The window's construction takes the file names,
// frame counts and fixed widths from here; the packaging tool's skin check
// and the skin guide's table are made from the same rows.
#pragma once

// The window's face (the drop shadow around it is the program's own).
constexpr int kSkinWindowWidth = 600;
constexpr int kSkinWindowHeight = 400;

enum class SkinSizing {
    kWindow,      // drawn over the whole window: stretched unless it is the window's size
    kOwn,         // drawn at its own size (of one state)
    kFixedWidth,  // drawn at `width` whatever the picture's width
    kStretched,   // nine-cell: `ends` pixels kept at the sides, the middle stretched to its place
};

// How a picture must compare with another one of the same control.
enum class SkinRelation {
    kNone,
    kSameHeight,  // drawn into the other's place, state by state
    kNotTaller,   // drawn inside the other and cut at its edges
};

struct SkinPicture {
    const wchar_t* file;
    int frames;  // states top to bottom: normal, hover, pressed
    SkinSizing sizing;
    int width;         // kFixedWidth: the width drawn
    int ends;          // kStretched and own-size nine-cells: both kept sides together
    int maxWidth;      // of one state; 0: the window's width
    int maxHeight;     // of one state; 0: the window's height
    const wchar_t* limitReason;  // why maxWidth/maxHeight, for messages and the guide
    SkinRelation relation;
    const wchar_t* other;  // the picture of `relation`, earlier in kSkinPictures
    const wchar_t* shows;  // what it is, for the guide
    const wchar_t* where;  // where it is drawn, for the guide
};

// In the order the window creates its controls.
constexpr SkinPicture kSkinBackground = {
    L"bg_main.png", 1, SkinSizing::kWindow, 0, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"the window's face; its alpha is the window's (transparent pixels are see-through); "
    L"pressing it drags the window",
    L"the whole window"};
constexpr SkinPicture kSkinLogo = {
    L"logo.png", 1, SkinSizing::kOwn, 0, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"logo; a click opens the configuration's `homepage`",
    L"top left, at x 20, y 10"};
constexpr SkinPicture kSkinClose = {
    L"btn_close.png", 3, SkinSizing::kOwn, 0, 0, 25, 0,
    L"the minimise button's right edge is 25 pixels left of the close button's",
    SkinRelation::kNone, nullptr,
    L"close button (asks first while installing)",
    L"top right: right edge 10 from the window's right, y 10"};
constexpr SkinPicture kSkinMinimize = {
    L"btn_min.png", 3, SkinSizing::kOwn, 0, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"minimise button",
    L"top right: right edge 35 from the window's right, y 10"};
constexpr SkinPicture kSkinCopyright = {
    L"copyright.png", 1, SkinSizing::kOwn, 0, 0, 0, 30,
    L"it sits 10 above the bottom and the path row 40 above it",
    SkinRelation::kNone, nullptr,
    L"copyright line",
    L"bottom right: 20 from the right, 10 from the bottom"};
constexpr SkinPicture kSkinWaiting = {
    L"waiting.png", 1, SkinSizing::kOwn, 0, 0, 0, 219,
    L"centred, it must end above the percentage, which starts at y 309",
    SkinRelation::kNone, nullptr,
    L"picture shown while installing",
    L"centred; only while installing"};
constexpr SkinPicture kSkinStart = {
    L"btn_start.png", 3, SkinSizing::kFixedWidth, 178, 0, 0, 0, nullptr, SkinRelation::kNone,
    nullptr,
    L"start button; hidden while the licence box is unticked",
    L"centred, 178 wide"};
constexpr SkinPicture kSkinEdit = {
    L"edit.png", 1, SkinSizing::kStretched, 0, 40, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"installation folder field; the path is written on it in the theme's `textcolor`",
    L"path row, 40 above the bottom: from x 20 to 90 from the right"};
constexpr SkinPicture kSkinBrowse = {
    L"btn_browse.png", 3, SkinSizing::kOwn, 0, 40, 70, 0,
    L"right-aligned 20 from the right, it must end before the path field, which stops 90 from "
    L"the right",
    SkinRelation::kNone, nullptr,
    L"button that opens the folder choice",
    L"path row, right edge 20 from the right; the agreement row sits 10 above it"};
constexpr SkinPicture kSkinCheck = {
    L"check.png", 3, SkinSizing::kFixedWidth, 13, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"licence check box, unticked",
    L"agreement row, x 20, 13 wide"};
constexpr SkinPicture kSkinChecked = {
    L"checked.png", 3, SkinSizing::kFixedWidth, 13, 0, 0, 0, nullptr, SkinRelation::kSameHeight,
    L"check.png",
    L"licence check box, ticked (the window starts ticked)",
    L"in the place of check.png"};
constexpr SkinPicture kSkinAgree = {
    L"agree.png", 1, SkinSizing::kOwn, 0, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"agreement text; a click ticks or unticks the box",
    L"agreement row, x 36"};
constexpr SkinPicture kSkinProtocol = {
    L"protocol.png", 3, SkinSizing::kOwn, 0, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"licence link; a click opens the configuration's `protocol`",
    L"agreement row, 6 right of agree.png"};
constexpr SkinPicture kSkinProgressSink = {
    L"progress_sink.png", 1, SkinSizing::kStretched, 0, 6, 0, 18,
    L"its bottom is 54 above the window's and the status line ends 72 above it",
    SkinRelation::kNone, nullptr,
    L"progress bar's track",
    L"54 above the bottom, from x 20 to 20 from the right; only while installing"};
constexpr SkinPicture kSkinProgressFill = {
    L"progress_pos.png", 1, SkinSizing::kStretched, 0, 6, 0, 0, nullptr, SkinRelation::kNotTaller,
    L"progress_sink.png",
    L"progress bar's fill: stretched over the whole track, cut off at the progress",
    L"centred in the track"};
constexpr SkinPicture kSkinProgressDot = {
    L"progress_dot.png", 1, SkinSizing::kOwn, 0, 0, 0, 0, nullptr, SkinRelation::kNone, nullptr,
    L"mark at the fill's end",
    L"centred on the fill's end"};
constexpr SkinPicture kSkinFinish = {
    L"btn_finish.png", 3, SkinSizing::kFixedWidth, 178, 0, 0, 0, nullptr, SkinRelation::kSameHeight,
    L"btn_start.png",
    L"replaces the start button when the installation is done; a click starts the client",
    L"in the place of btn_start.png"};

constexpr const SkinPicture* kSkinPictures[] = {
    &kSkinBackground, &kSkinLogo,     &kSkinClose,        &kSkinMinimize,     &kSkinCopyright,
    &kSkinWaiting,    &kSkinStart,    &kSkinEdit,         &kSkinBrowse,       &kSkinCheck,
    &kSkinChecked,    &kSkinAgree,    &kSkinProtocol,     &kSkinProgressSink, &kSkinProgressFill,
    &kSkinProgressDot, &kSkinFinish,
};

// The colours; read as UTF-16LE text.
constexpr wchar_t kSkinThemeFile[] = L"theme.txt";
