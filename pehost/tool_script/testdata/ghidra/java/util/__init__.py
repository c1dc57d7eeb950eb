"""Stand-in java.util: the list a Java method takes from either runtime."""


class ArrayList(list):
    def add(self, item):
        self.append(item)
        return True
