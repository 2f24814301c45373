"""Relay traces (WINEDEBUG=+relay) as trees of calls: each call with its
arguments, its result and the traced calls made while it ran on the same
thread. Standard library only.
"""

import collections
import re

from winelab import undebugstr


RelayArgument = collections.namedtuple("RelayArgument", "value text cut")
RELAY_CALL = re.compile(r"^(\w+):Call (\w+)\.(\w+)\((.*)\) ret=\w+$")
RELAY_RET = re.compile(r"^(\w+):Ret  (\w+)\.(\w+)\(\) retval=(\w+) ret=\w+$")
RELAY_ARGUMENT = re.compile(r'(\w+)(?: (L?)"((?:[^"\\]|\\.)*)"(\.\.\.)?)?(?:,|$)')


class RelayCall:
    """One traced call. `args` are RelayArguments: the value as printed (the
    whole register: compare DWORDs through `dword`) and, where the trace
    shows one, the string it points to (None otherwise), and whether the
    trace cut that string short."""

    def __init__(self, thread, module, function, args):
        self.thread, self.module, self.function, self.args = thread, module, function, args
        self.retval = None
        self.inner = []

    def dword(self, index):
        return self.args[index].value & 0xFFFFFFFF

    def text(self, index):
        return self.args[index].text

    def inner_calls(self, function):
        return [call for call in self.inner if call.function == function]

    def __repr__(self):
        return "%s.%s(%s) = %s" % (self.module, self.function, ", ".join(
            "%x" % a.value if a.text is None else "%x %r" % (a.value, a.text)
            for a in self.args), "?" if self.retval is None else "%x" % self.retval)


def parse_relay_arguments(text):
    args, position = [], 0
    while position < len(text):
        match = RELAY_ARGUMENT.match(text, position)
        if not match or match.end() == position:
            raise ValueError("unreadable relay arguments %r" % text)
        value, _, string, cut = match.groups()
        shown = None if string is None else undebugstr(string)
        args.append(RelayArgument(int(value, 16), shown, bool(cut)))
        position = match.end()
    return args


def relay_calls(trace):
    """The outermost traced calls, in order; nested ones are in `inner`."""
    stacks, outermost = {}, []
    for line in trace.splitlines():
        call = RELAY_CALL.match(line)
        if call:
            thread, module, function, text = call.groups()
            entry = RelayCall(thread, module, function, parse_relay_arguments(text))
            stack = stacks.setdefault(thread, [])
            (stack[-1].inner if stack else outermost).append(entry)
            stack.append(entry)
            continue
        ret = RELAY_RET.match(line)
        if ret:
            stack = stacks.get(ret.group(1), [])
            if stack and stack[-1].function == ret.group(3):
                stack.pop().retval = int(ret.group(4), 16)
    return outermost


def flatten_calls(calls, function):
    """Every call of `function` at any depth, in order."""
    found = []
    for call in calls:
        if call.function == function:
            found.append(call)
        found.extend(flatten_calls(call.inner, function))
    return found
