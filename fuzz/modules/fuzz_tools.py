# The only module the request fuzzer may call: harmless functions and a class.
# It imports nothing, so no other module is reachable through its attributes.


def echo(*args):
    return args[0] if args else ""


def join(*args):
    return ",".join(args)


def nothing(*args):
    return None


def fail(*args):
    raise ValueError("fuzz")


def exit_now(*args):
    raise SystemExit(1)


def big(*args):
    return "y" * 70000


class Box(object):
    def __init__(self, *args):
        self.items = list(args)

    def put(self, *args):
        self.items.extend(args)
        return str(len(self.items))

    def get(self, index="0"):
        return self.items[int(index)]
