// Stands in for the built-in artwork while res/orvelan.qrc does not exist.
