# -*- coding: utf-8 -*-
# Copyright 2026 Ordel Toolkits team
# SPDX-License-Identifier: LicenseRef-proprietary
"""Runs ordelctl on the managed host and folds its JSON lines into results.

Every camera rule (what to skip, refuse, verify, when to stop) is ordelctl's;
the modules only build its command line and read back what it printed.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re

from ansible.module_utils.basic import AnsibleModule

# The results and plans that make a task fail: each names a camera that did
# not get, or would not get, what the task asked for.
FAILING_RESULTS = ('failed', 'interrupted', 'not started', 'missing')
FAILING_PLANS = ('refuse', 'missing')

# ordelctl's exit codes, as its help lists them.
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2


def new_module(options, ranges=None, **rules):
    """A module with its own options and the shared executable. Every module
    runs in check mode: each says what it does there. ranges maps a number
    option to the (lowest, highest) ordelctl takes; refusing here, on the
    controller's terms, names the module's option instead of ordelctl's."""
    options = dict(options, executable=dict(type='str', default='ordelctl'))
    module = AnsibleModule(options, supports_check_mode=True, **rules)
    for name, (lowest, highest) in sorted((ranges or {}).items()):
        value = module.params.get(name)
        if value is not None and not lowest <= value <= highest:
            module.fail_json(msg='%s takes a whole number from %d to %d, not %d'
                             % (name, lowest, highest, value))
    return module


def executable_path(module):
    """The ordelctl to run: a bare name is looked up on the managed host's
    PATH, a path taken as it is; either must be an executable file."""
    name = module.params['executable']
    path = module.get_bin_path(os.path.abspath(name) if os.sep in name else name)
    if not path:
        if os.sep in name:
            module.fail_json(msg='%s is not an executable file on the managed host' % name)
        module.fail_json(msg='%s was not found on the PATH of the managed host: install the '
                             'ordel-toolkits package there, or give executable' % name)
    return path


def option_args(params, flags):
    """ordelctl options from module parameters: flags maps a parameter to its
    option; a parameter left out, or a false boolean, gives nothing."""
    args = []
    for name, flag in flags:
        value = params.get(name)
        if value is None or value is False:
            continue
        args.append(flag)
        if value is not True:
            args.append(str(value))
    return args


def parse_lines(text):
    """The JSON objects of ordelctl's standard output, one a line, and the
    lines that are anything else."""
    objects = []
    others = []
    for line in text.splitlines():
        if not line.strip():
            continue
        try:
            value = json.loads(line)
        except ValueError:
            value = None
        if isinstance(value, dict):
            objects.append(value)
        else:
            others.append(line)
    return objects, others


class Run(object):
    """One ordelctl run: what a failed task reports besides its message."""

    def __init__(self, argv, rc, objects, err, others):
        self.argv = argv
        self.rc = rc
        self.objects = objects
        self.err = err
        self.others = others

    def fail(self, module, msg, **result):
        module.fail_json(msg=msg, cmd=' '.join(self.argv), rc=self.rc, stderr=self.err,
                         non_json_lines=self.others, **result)


def run(module, command, options, addresses=None):
    """Runs ordelctl COMMAND OPTIONS --json [-- ADDRESSES] as an argument list,
    never through a shell. The addresses follow "--", so none is ever taken
    for an option. A line that is not JSON fails the task: a wrong executable
    or a changed output must not pass for a camera's result."""
    argv = [executable_path(module), command] + options + ['--json']
    if addresses:
        argv += ['--'] + list(addresses)
    rc, out, err = module.run_command(argv)
    objects, others = parse_lines(out)
    done = Run(argv, rc, objects, err, others)
    if others:
        done.fail(module, 'ordelctl printed a line that is not a JSON object: %s' % others[0])
    return done


def with_key(objects, key):
    return [item for item in objects if key in item]


def addresses(objects, key, values):
    return [item.get('ip') for item in objects if item.get(key) in values]


def named(objects, key, values):
    """'IP (message)' for each object whose key is one of values; the word is
    added where it is not the first of values, so a missing camera reads as
    such among failed ones."""
    texts = []
    for item in objects:
        word = item.get(key)
        if word not in values:
            continue
        why = item.get('message', item.get('reason', ''))
        if word != values[0]:
            why = '%s: %s' % (word, why)
        texts.append('%s (%s)' % (item.get('ip'), why))
    return ', '.join(texts)


def stderr_reason(rc, err):
    """ordelctl's own word for a refusal or an error, or its exit code where
    it said nothing."""
    text = err.strip()
    return text if text else 'ordelctl ended with exit code %d' % rc


# The addresses ordelctl's command line refuses whatever they are: a camera's
# address is dotted IPv4 as it reads it, each part a decimal number without a
# leading zero and not over 255, with nothing before or after.
DOTTED_QUAD = re.compile(r'(0|[1-9][0-9]{0,2})\.(0|[1-9][0-9]{0,2})\.(0|[1-9][0-9]{0,2})\.'
                         r'(0|[1-9][0-9]{0,2})\Z')
NOT_DOTTED = ('0.0.0.0', '255.255.255.255')


def why_not_a_camera(value):
    """ordelctl's refusal of value as a camera's address, in its words, or
    None: what its command line refuses, then what it fails as no camera's
    (this network, loopback, multicast and above). The managed host's own
    addresses are host_addresses' to tell."""
    match = DOTTED_QUAD.match(value)
    parts = [int(part) for part in match.groups()] if match else []
    if not parts or max(parts) > 255 or value in NOT_DOTTED:
        return '%s is not a dotted IPv4 address' % value
    if parts[0] in (0, 127) or parts[0] >= 224:
        return "address %s is not a camera's address" % value
    return None


def host_addresses(module):
    """The managed host's own IPv4 addresses and its networks' broadcast
    addresses, which ordelctl fails as no camera's, as ip lists them; none
    where ip cannot tell."""
    ip = module.get_bin_path('ip')
    if not ip:
        return set()
    rc, out, _err = module.run_command([ip, '-o', '-4', 'address', 'show'])
    if rc != 0:
        return set()
    found = set()
    for line in out.splitlines():
        words = line.split()
        for key in ('inet', 'brd'):
            if key in words[:-1]:
                found.add(words[words.index(key) + 1].split('/')[0])
    return found


def check_addresses(module, values):
    """Fails on every address a run of ordelctl would refuse or fail before
    sending it anything. In check mode ordelctl does not run, so this is what
    keeps a checked play from passing where the run would not."""
    if not values:
        module.fail_json(msg='cameras: name at least one camera\'s address')
    for value in values:
        why = why_not_a_camera(value)
        if why:
            module.fail_json(msg='cameras: ' + why)
    own = host_addresses(module)
    for value in values:
        if value in own:
            module.fail_json(msg="cameras: address %s is not a camera's address: it is the managed "
                                 "host's own, or its network's broadcast" % value)
