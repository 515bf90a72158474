import QtQuick 2.15
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import QtQuick.Extras 1.4

// Keeps the Controls 1 and Extras modules among the imports of the documents.
Item {
}
