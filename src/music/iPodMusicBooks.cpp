// Reader of the books property list of mobile devices ("Books/Books.plist").
#include "iPodMusic.h"

#include "iPodDev.h"

#include <QFile>
#include <pugixml.hpp>

namespace {

QString TextOf(const pugi::xml_node& node) { return QString::fromUtf8(node.child_value()); }

QList<pugi::xml_node> ElementChildren(const pugi::xml_node& node) {
    QList<pugi::xml_node> list;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            list.append(c);
    return list;
}

} // namespace

int TIpodMusicDb::ReadBooksPlist(bool purchased) {
    QString path;
    Device->FetchBooksPlist(purchased, path);
    if (path.isEmpty())
        return 0;
    const int books = ReadBooksFromFile(path);
    if (Device->IsMobile)
        QFile::remove(path);
    return books;
}

int TIpodMusicDb::ReadBooksFromFile(const QString& path) {
    int books = 0;
    try {
        pugi::xml_document doc;
        // No entity expansion or DTD processing beyond pugixml's own: the list is untrusted.
        const pugi::xml_parse_result parsed = doc.load_file(QFile::encodeName(path).constData(),
                                                            pugi::parse_default & ~pugi::parse_doctype);
        const pugi::xml_node root = doc.document_element();
        const QList<pugi::xml_node> top = parsed ? ElementChildren(root) : QList<pugi::xml_node>();
        if (!top.isEmpty()) {
            QList<pugi::xml_node> entries = ElementChildren(top.first());
            if (entries.size() >= 2) {
                for (int i = 0; i + 1 < entries.size(); ++i) {
                    if (TextOf(entries[i]) == QLatin1String("Books")) {
                        entries = ElementChildren(entries[i + 1]);
                        break;
                    }
                }
                for (const pugi::xml_node& e : entries) {
                    const QList<pugi::xml_node> fields = ElementChildren(e);
                    if (fields.size() <= 2)
                        continue;
                    TTrackItem& t = Tracks.Add();
                    t.Checked = false;
                    t.MediaKind = MediaBooks;
                    t.CopyState = -1;
                    t.ITunesSourceId = -1;
                    int hits = 0;
                    for (int k = 0; k + 1 < fields.size() && hits < 3; ++k) {
                        const QString key = TextOf(fields[k]);
                        if (key.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0) {
                            t.Title = TextOf(fields[k + 1]);
                            ++hits;
                        } else if (key.compare(QLatin1String("Path"), Qt::CaseInsensitive) == 0) {
                            t.Location = QStringLiteral("Books/") + TextOf(fields[k + 1]);
                            ++hits;
                        } else if (key.compare(QLatin1String("Artist"), Qt::CaseInsensitive) == 0) {
                            t.Artist = Shared(TextOf(fields[k + 1]));
                            ++hits;
                        }
                    }
                    ++books;
                }
            }
        }
    } catch (const std::exception&) {
        // The books read so far stay.
    }
    return books;
}
