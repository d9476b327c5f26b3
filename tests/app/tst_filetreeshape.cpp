#include "app/FileTreeShape.h"

#include <QTest>

#include <map>

// The tree a list of tree paths makes, written as nested text: a node is its text, "#i" for
// the file node of record i, and its children in parentheses, in the order they were made.
class TestFileTreeShape : public QObject
{
    Q_OBJECT
private slots:
    void shape_data();
    void shape();
    void fileName_data();
    void fileName();
    void createdInOrderWithIds();
};

namespace {

struct Node
{
    QString text;
    int recordIndex;
    std::vector<int> children;
};

QString render(const std::map<int, Node>& nodes, const std::vector<int>& level)
{
    QStringList parts;
    for (int id : level) {
        const Node& node = nodes.at(id);
        QString text = node.text;
        if (node.recordIndex >= 0)
            text += QStringLiteral("#%1").arg(node.recordIndex);
        if (!node.children.empty())
            text += QLatin1Char('(') + render(nodes, node.children) + QLatin1Char(')');
        parts << text;
    }
    return parts.join(QLatin1Char(','));
}

QString shapeOf(const QStringList& treePaths)
{
    TFileTreeShape shape;
    std::map<int, Node> nodes;
    std::vector<int> top;
    for (int i = 0; i < treePaths.size(); ++i) {
        shape.place(i, treePaths[i], [&](int id, int parent, const QString& text, int record) {
            nodes[id] = Node{text, record, {}};
            (parent == TFileTreeShape::kTop ? top : nodes.at(parent).children).push_back(id);
        });
    }
    return render(nodes, top);
}

} // namespace

void TestFileTreeShape::shape_data()
{
    QTest::addColumn<QStringList>("treePaths");
    QTest::addColumn<QString>("tree");
    QTest::newRow("folders by path")
        << QStringList{"Library/SMS/sms.db", "Library/Notes/notes.sqlite"}
        << "Library(SMS(sms.db#0),Notes(notes.sqlite#1))";
    QTest::newRow("names need an extension")
        << QStringList{"a/x.txt", "a/x..", "a/x.", "a/Manifest", "a/.hidden", "a/.x.txt"}
        << "a(x.txt#0,x..#1)";
    QTest::newRow("single component makes nothing") << QStringList{"Manifest.db", "x", ""} << "";
    QTest::newRow("trailing separator adds no component")
        << QStringList{"a/b/", "a/c.txt/"} << "a(c.txt#1)";
    QTest::newRow("folders stay when the name fails") << QStringList{"a/b/Manifest"} << "a(b)";
    QTest::newRow("duplicate tree path: first record wins")
        << QStringList{"Library/SMS/sms.db", "Library/SMS/sms.db"} << "Library(SMS(sms.db#0))";
    QTest::newRow("empty components are kept")
        << QStringList{"a//b.txt", "/c.txt"} << "a((b.txt#0)),(c.txt#1)";
    QTest::newRow("catalog order, no sorting")
        << QStringList{"z/1.txt", "a/2.txt", "z/0.txt"} << "z(1.txt#0,0.txt#2),a(2.txt#1)";
    QTest::newRow("texts compare case-sensitively")
        << QStringList{"A/x.txt", "a/x.txt", "a/X.txt"} << "A(x.txt#0),a(x.txt#1,X.txt#2)";
    QTest::newRow("a file node becomes a folder")
        << QStringList{"Applications/app1.x", "Applications/app1.x/Documents/a.db"}
        << "Applications(app1.x#0(Documents(a.db#1)))";
    QTest::newRow("no file node where a folder of that name is")
        << QStringList{"a/b.c/d.txt", "a/b.c"} << "a(b.c(d.txt#0))";
    QTest::newRow("application tree")
        << QStringList{"Applications/app1/", "Applications/app1/Documents/a.db",
                       "Applications/app2/Library/b.plist"}
        << "Applications(app1(Documents(a.db#1)),app2(Library(b.plist#2)))";
}

void TestFileTreeShape::shape()
{
    QFETCH(QStringList, treePaths);
    QFETCH(QString, tree);
    QCOMPARE(shapeOf(treePaths), tree);
}

void TestFileTreeShape::fileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isFile");
    QTest::newRow("extension") << "x.txt" << true;
    QTest::newRow("two dots at the end") << "x.." << true;
    QTest::newRow("dot at the end only") << "x." << false;
    QTest::newRow("no dot") << "Manifest" << false;
    QTest::newRow("leading dot") << ".hidden.txt" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("several dots") << "com.apple.demo.plist" << true;
}

void TestFileTreeShape::fileName()
{
    QFETCH(QString, name);
    QFETCH(bool, isFile);
    QCOMPARE(TFileTreeShape::isFileName(name), isFile);
}

void TestFileTreeShape::createdInOrderWithIds()
{
    TFileTreeShape shape;
    QList<QList<int>> created;
    auto record = [&](int id, int parent, const QString&, int recordIndex) {
        created.append({id, parent, recordIndex});
    };
    shape.place(0, QStringLiteral("a/b/c.txt"), record);
    shape.place(1, QStringLiteral("a/b/d.txt"), record);
    QCOMPARE(created, (QList<QList<int>>{{0, -1, -1}, {1, 0, -1}, {2, 1, 0}, {3, 1, 1}}));
    QCOMPARE(shape.nodeCount(), 4);
    shape.clear();
    QCOMPARE(shape.nodeCount(), 0);
    created.clear();
    shape.place(5, QStringLiteral("a/x.txt"), record);
    QCOMPARE(created, (QList<QList<int>>{{0, -1, -1}, {1, 0, 5}}));
}

QTEST_GUILESS_MAIN(TestFileTreeShape)
#include "tst_filetreeshape.moc"
