#include "platform/gdi.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/resources.h"

namespace {

std::uint32_t U32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24); }
std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// Bitmaps handed out by handle, owned here until DeleteObject.
class BitmapTable {
public:
    HBITMAP Add(Bitmap bitmap)
    {
        auto owned = std::make_unique<Bitmap>(std::move(bitmap));
        HBITMAP handle = owned.get();
        std::lock_guard lock(m_mutex);
        m_bitmaps.emplace(handle, std::move(owned));
        return handle;
    }
    bool Remove(HBITMAP handle)
    {
        std::lock_guard lock(m_mutex);
        return m_bitmaps.erase(handle) != 0;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HBITMAP, std::unique_ptr<Bitmap>> m_bitmaps;
};

BitmapTable& Bitmaps()
{
    static BitmapTable table;
    return table;
}

HBITMAP LoadPicture(HINSTANCE module, const char* type, int id)
{
    const ResourceEntry* entry = FindResource(module, type, id);
    Bitmap bitmap;
    if (entry == nullptr || !DecodeBmp(entry->data, entry->size, bitmap)) return nullptr;
    return Bitmaps().Add(std::move(bitmap));
}

}  // namespace

bool DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out)
{
    if (data == nullptr || size < 54 || data[0] != 'B' || data[1] != 'M') return false;
    const std::uint32_t offset = U32(data + 10);
    const std::uint32_t header = U32(data + 14);
    if (header < 40 || header > size - 14) return false;
    const auto width = static_cast<std::int32_t>(U32(data + 18));
    auto height = static_cast<std::int32_t>(U32(data + 22));
    const std::uint16_t bits = U16(data + 28);
    const std::uint32_t compression = U32(data + 30);
    if (width <= 0 || width > 4096 || height == 0 || height < -4096 || height > 4096) return false;
    if ((bits != 24 && bits != 32) || (compression != 0 && compression != 3)) return false;
    const bool topDown = height < 0;
    if (topDown) height = -height;
    const std::size_t stride = (static_cast<std::size_t>(width) * (bits / 8) + 3) & ~std::size_t(3);
    if (offset > size || (size - offset) / stride < static_cast<std::size_t>(height)) return false;
    out.width = width;
    out.height = height;
    out.pixels.assign(static_cast<std::size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = data + offset + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* px = row + static_cast<std::size_t>(x) * (bits / 8);
            out.pixels[static_cast<std::size_t>(y) * width + x] = RGB(px[2], px[1], px[0]);
        }
    }
    return true;
}

HBITMAP LoadBitmap(HINSTANCE module, int id) { return LoadPicture(module, "BITMAP", id); }
HICON LoadIcon(HINSTANCE module, int id) { return LoadPicture(module, "ICON", id); }

BOOL DeleteObject(HBITMAP bitmap) { return bitmap != nullptr && Bitmaps().Remove(bitmap); }
BOOL DestroyIcon(HICON icon) { return DeleteObject(icon); }
