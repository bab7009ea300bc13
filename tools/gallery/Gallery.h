#pragma once

// The screen gallery renders every screen in each of its states to PNG files, so a layout
// can be compared with its intended sizes, spacings, fonts and colours. Each area adds a page
// file that registers itself with VELMORA_GALLERY_PAGE; main.cpp renders them all.

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

namespace velmora::gallery {

class Gallery
{
public:
    explicit Gallery(QString outputDirectory) : m_outputDirectory(std::move(outputDirectory)) {}

    // Shows the widget offscreen, lets pending layout and paint events run, and writes
    // <outputDirectory>/<name>.png at the widget's logical size.
    void save(QWidget &widget, const QString &name);
    const QString &outputDirectory() const { return m_outputDirectory; }
    int saved() const { return m_saved; }

private:
    QString m_outputDirectory;
    int m_saved = 0;
};

struct Page
{
    const char *name;
    std::function<void(Gallery &)> render;
};

std::vector<Page> &pages();

struct PageRegistrar
{
    PageRegistrar(const char *name, std::function<void(Gallery &)> render)
    {
        pages().push_back(Page{name, std::move(render)});
    }
};

} // namespace velmora::gallery

#define VELMORA_GALLERY_CONCAT2(a, b) a##b
#define VELMORA_GALLERY_CONCAT(a, b) VELMORA_GALLERY_CONCAT2(a, b)
// VELMORA_GALLERY_PAGE("access-screen") { gallery.save(widget, "access-screen-idle"); }
#define VELMORA_GALLERY_PAGE(pageName) \
    static void VELMORA_GALLERY_CONCAT(galleryPage_, __LINE__)(::velmora::gallery::Gallery &); \
    static ::velmora::gallery::PageRegistrar VELMORA_GALLERY_CONCAT(galleryRegistrar_, __LINE__)( \
        pageName, &VELMORA_GALLERY_CONCAT(galleryPage_, __LINE__)); \
    static void VELMORA_GALLERY_CONCAT(galleryPage_, __LINE__)(::velmora::gallery::Gallery & gallery)
