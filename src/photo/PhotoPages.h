#pragma once

#include <QImage>

// What the photo window's scroll box does for the page logic of TIpodPhotoDb: it owns
// the tile widgets, which the core never sees. Called on the UI thread only. Tiles are
// numbered in the order they were added since the last RemoveAllTiles; a click on a
// tile is handed back through TIpodPhotoDb::TileClick with that number.
class TTileBox {
public:
    virtual ~TTileBox() = default;

    struct TTile {
        int Left = 0;
        int Top = 0;
        int Width = 0;
        int Height = 0;
        // Drawn unscaled at (TileImageLeft, 0) inside the tile.
        QImage Picture;
        bool Selected = false;
    };

    virtual void RemoveAllTiles() = 0;
    virtual void AddTile(const TTile& tile) = 0;
    // The tile's mark changed: repaint it.
    virtual void SetTileSelected(int tile, bool selected) = 0;
    virtual void SetBoxEnabled(bool enabled) = 0;
    virtual void SetBoxVisible(bool visible) = 0;
};
