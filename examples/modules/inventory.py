"""A small module for the demo: a function and a class with methods."""


def greet(name, times="1"):
    return " ".join(["Hello, %s!" % name] * int(times))


class Stock(object):
    def __init__(self, *items):
        self.items = list(items)

    def add(self, *items):
        self.items.extend(items)
        return str(len(self.items))

    def listing(self):
        return ", ".join(sorted(self.items))
