#!/usr/bin/python3
"""A small stand-in for the udisks2 service, for the tests.

It owns org.freedesktop.UDisks2 on the bus it is given (a private system
bus), answers GetManagedObjects at /org/freedesktop/UDisks2 with the block
devices and drives of a JSON description, and hands out descriptors of card
image files from Block.OpenDevice (or OpenForBackup/OpenForRestore).

    udisks_standin.py CONFIG.json LOG

The description is read again for every call, so that a test can change it
between runs. Its form:

    {"devices": [{"name": "sdb", "image": "/path/card.img",
                  "device": "/path/shown/as/Device",     (default: the image)
                  "removable": true, "optical": false, "system": false,
                  "mounted": false, "read_only": false,
                  "partitions": [{"number": 1, "offset": 512, "size": 1024,
                                  "mounted": false}]}],
     "refuse": ["sdb"],           (OpenDevice answers NotAuthorized)
     "no_open_device": false}     (as an old udisks2: OpenForBackup/Restore only)

Each open is written to LOG as one line: "NAME MODE FLAGS" (MODE r, rw,
backup or restore; FLAGS the decimal open flags asked for), or "NAME MODE
refused".
"""
import json
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = "org.freedesktop.UDisks2"
ROOT = "/org/freedesktop/UDisks2"
BLOCK = "org.freedesktop.UDisks2.Block"
ERROR = "org.freedesktop.UDisks2.Error."

config_path, log_path = sys.argv[1], sys.argv[2]


def load():
    with open(config_path) as f:
        return json.load(f)


def log(line):
    with open(log_path, "a") as f:
        f.write(line + "\n")


def path_bytes(text):
    return dbus.ByteArray(text.encode() + b"\0")


def blocks(config):
    """(object name, properties, image, offset, size, mounted) for every block."""
    for device in config["devices"]:
        image = device["image"]
        size = os.path.getsize(image) if os.path.exists(image) else 0
        yield device["name"], device, image, 0, size, device.get("mounted", False)
        for part in device.get("partitions", []):
            name = "%s%d" % (device["name"], part["number"])
            yield name, dict(device, partition=part), image, part["offset"], part["size"], part.get("mounted", False)


def managed_objects(config):
    objects = {}
    for device in config["devices"]:
        drive = dbus.ObjectPath(ROOT + "/drives/" + device["name"])
        objects[drive] = {"org.freedesktop.UDisks2.Drive": dbus.Dictionary({
            "Removable": dbus.Boolean(device.get("removable", True)),
            "MediaRemovable": dbus.Boolean(device.get("removable", True)),
            "MediaAvailable": dbus.Boolean(os.path.exists(device["image"])),
            "Optical": dbus.Boolean(device.get("optical", False)),
            "ConnectionBus": "usb",
        }, signature="sv")}
    for name, device, image, offset, size, mounted in blocks(config):
        shown = device.get("device", image)
        part = device.get("partition")
        if part:
            shown = "%s%d" % (shown, part["number"])
        interfaces = {BLOCK: dbus.Dictionary({
            "Device": path_bytes(shown),
            "PreferredDevice": path_bytes(shown),
            "Size": dbus.UInt64(size),
            "Drive": dbus.ObjectPath(ROOT + "/drives/" + device["name"]),
            "HintSystem": dbus.Boolean(device.get("system", False)),
            "ReadOnly": dbus.Boolean(device.get("read_only", False)),
            "CryptoBackingDevice": dbus.ObjectPath("/"),
        }, signature="sv")}
        if part:
            interfaces["org.freedesktop.UDisks2.Partition"] = dbus.Dictionary({
                "Number": dbus.UInt32(part["number"]),
                "Offset": dbus.UInt64(offset),
                "Size": dbus.UInt64(size),
                "Table": dbus.ObjectPath(ROOT + "/block_devices/" + device["name"]),
            }, signature="sv")
        elif device.get("partitions"):
            interfaces["org.freedesktop.UDisks2.PartitionTable"] = dbus.Dictionary({"Type": "dos"}, signature="sv")
        if mounted or part or not device.get("partitions"):
            points = [path_bytes("/media/card-" + name)] if mounted else []
            interfaces["org.freedesktop.UDisks2.Filesystem"] = dbus.Dictionary({
                "MountPoints": dbus.Array(points, signature="ay"),
            }, signature="sv")
        objects[dbus.ObjectPath(ROOT + "/block_devices/" + name)] = interfaces
    # Something that is not ours to list: a loop device has no drive.
    objects[dbus.ObjectPath(ROOT + "/block_devices/loop0")] = {BLOCK: dbus.Dictionary({
        "Device": path_bytes("/dev/loop0"), "Size": dbus.UInt64(1 << 20), "Drive": dbus.ObjectPath("/"),
        "HintSystem": dbus.Boolean(False), "ReadOnly": dbus.Boolean(False),
    }, signature="sv")}
    return objects


class UDisks(dbus.service.FallbackObject):
    def find(self, path):
        name = path.rsplit("/", 1)[-1]
        for block in blocks(load()):
            if block[0] == name:
                return block
        raise dbus.exceptions.DBusException("no such device", name=ERROR + "Failed")

    def open(self, path, mode, flags):
        config = load()
        name, device, image, offset, size, mounted = self.find(path)
        if name in config.get("refuse", []) or device["name"] in config.get("refuse", []):
            log("%s %s refused" % (name, mode))
            raise dbus.exceptions.DBusException("Not authorized to perform operation",
                                                name=ERROR + "NotAuthorizedCanObtain")
        log("%s %s %d" % (name, mode, flags))
        if mode in ("rw", "restore") and mounted and flags & os.O_EXCL:
            raise dbus.exceptions.DBusException("Error opening device: Device or resource busy",
                                                name=ERROR + "Failed")
        # A partition is served as the whole image here; the tests use whole cards.
        fd = os.open(image, os.O_RDONLY if mode in ("r", "backup") else os.O_RDWR)
        try:
            return dbus.types.UnixFd(fd)
        finally:
            os.close(fd)

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}",
                         rel_path_keyword="path")
    def GetManagedObjects(self, path):
        if path != "/":
            raise dbus.exceptions.DBusException("no object manager here", name="org.freedesktop.DBus.Error.UnknownMethod")
        return managed_objects(load())

    @dbus.service.method(BLOCK, in_signature="sa{sv}", out_signature="h", rel_path_keyword="path")
    def OpenDevice(self, mode, options, path):
        if load().get("no_open_device"):
            raise dbus.exceptions.DBusException("No such method 'OpenDevice'",
                                                name="org.freedesktop.DBus.Error.UnknownMethod")
        if mode not in ("r", "w", "rw"):
            raise dbus.exceptions.DBusException("Unsupported mode", name=ERROR + "Failed")
        return self.open(path, mode, int(options.get("flags", 0)))

    @dbus.service.method(BLOCK, in_signature="a{sv}", out_signature="h", rel_path_keyword="path")
    def OpenForBackup(self, options, path):
        return self.open(path, "backup", 0)

    @dbus.service.method(BLOCK, in_signature="a{sv}", out_signature="h", rel_path_keyword="path")
    def OpenForRestore(self, options, path):
        return self.open(path, "restore", os.O_EXCL)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    UDisks(bus, ROOT)
    name = dbus.service.BusName(BUS_NAME, bus)  # noqa: F841 (kept while the loop runs)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
