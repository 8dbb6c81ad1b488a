#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Ordel Toolkits team
# SPDX-License-Identifier: LicenseRef-proprietary

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: camera_firmware
short_description: Updates the cameras on the managed host's networks to a firmware version
description:
  - Runs C(ordelctl update --yes --json --image IMAGE --fw-version VERSION) on the managed host
    for every camera that answers (C(--all)), or for those in C(cameras).
  - A camera already on C(version) is skipped by C(ordelctl), so a second run with the same image
    and version changes nothing. An update succeeds only once the camera has restarted and reports
    C(version).
  - The task fails when a camera failed, was interrupted, was not started or is missing, naming
    each with C(ordelctl)'s reason; the results of the other cameras are returned all the same.
    It also fails, with C(ordelctl)'s message, when C(ordelctl) refuses the run; nothing is sent then.
  - In check mode runs C(ordelctl update --check), which searches but sends no camera anything,
    and reports what a run would do.
  - With C(--diff), shows each camera's version before and after; outside check mode this
    runs C(ordelctl update --check) first, for the versions before.
  - In check mode an image not on the managed host yet, as after a C(copy) that copied nothing,
    does not fail the task; the plan is made from the search alone, C(image) is None and C(msg)
    says so. Outside check mode a missing image fails the task.
author: Ordel Toolkits team (@ordel)
options:
  image:
    description: The firmware image, a file on the managed host (C(--image)).
    type: path
    required: true
  version:
    description:
      - The firmware version the image installs, as the cameras report it (C(--fw-version)).
      - Cameras on it are skipped; an updated camera succeeds once it comes back on it.
      - Quote it in YAML, since C(2.10) unquoted is the number 2.1.
    type: str
    required: true
  cameras:
    description:
      - The addresses of the cameras to update.
      - Left out, every camera that answers the search is updated (C(--all)).
    type: list
    elements: str
  type:
    description:
      - Only the cameras of this camera type (C(--type)); a camera named in C(cameras) that is of
        another type fails.
      - Not with C(any_type).
    type: str
  any_type:
    description:
      - Cameras of several types with one image (C(--any-type)).
      - Not with C(type).
    type: bool
    default: false
  parallel:
    description:
      - Cameras updated at once (C(--parallel)), from 1 to 256; C(ordelctl)'s default, 16, when
        left out.
    type: int
  canary:
    description:
      - Update this many cameras first, the others only if all of them succeeded (C(--canary)),
        from 1 to 100000.
    type: int
  max_failures:
    description: Once this many cameras have failed, start no more (C(--max-failures)), from 1 to 100000.
    type: int
  report_timeout:
    description:
      - Seconds a camera's final report may take once its image is sent (C(--report-timeout)),
        from 1 to 86400.
    type: int
  verify_timeout:
    description:
      - Seconds an updated camera may take to come back on C(version) (C(--verify-timeout)),
        from 1 to 86400.
    type: int
  expect:
    description:
      - Not with C(cameras).
      - With C(cameras) left out, a file on the managed host with the cameras that should answer,
        an earlier C(ordelctl search --json) or C(--csv) output (C(--expect)); each that does not
        answer is missing, and fails the task.
    type: path
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ordel.cameras.ordelctl
attributes:
  check_mode:
    support: full
    details: Runs C(ordelctl update --check), which sends no camera anything.
  diff_mode:
    support: full
    details: Each camera's version before and after; in check mode, the plan's.
  platform:
    platforms: posix
notes:
  - The search that starts every update broadcasts the discovery probe on every network the
    managed host is attached to.
'''

EXAMPLES = r'''
- name: Put the image on each site's gateway
  ansible.builtin.copy:
    src: fw-2.9.0.bin
    dest: /var/tmp/fw-2.9.0.bin
    mode: "0644"

- name: Update every camera of each site, two canaries first
  ordel.cameras.camera_firmware:
    image: /var/tmp/fw-2.9.0.bin
    version: "2.9.0"
    canary: 2
    parallel: 8
    expect: /var/lib/cameras/expected.json
  register: update

- name: Update two cameras only
  ordel.cameras.camera_firmware:
    image: /var/tmp/fw-2.9.0.bin
    version: "2.9.0"
    cameras:
      - 198.51.100.11
      - 198.51.100.12
'''

RETURN = r'''
results:
  description:
    - One object a camera, as C(ordelctl update --json) prints its final line.
    - In check mode the plan, one object a camera as C(ordelctl update --check --json) prints it,
      with keys C(ip), C(plan) (C(update), C(skip), C(refuse) or C(missing)) and C(reason).
  returned: always
  type: list
  elements: dict
  contains:
    ip:
      description: The camera's address.
      type: str
      sample: 198.51.100.12
    result:
      description: C(succeeded), C(failed), C(interrupted), C(skipped), C(not started) or C(missing).
      type: str
      sample: failed
    message:
      description: Why, in C(ordelctl)'s words.
      type: str
      sample: came back on 2.8.1, not 2.9.0
    seconds:
      description: How long the camera's update took.
      type: float
    verified:
      description: True when the camera came back reporting C(version).
      type: bool
  sample:
    - {"ip": "198.51.100.11", "result": "succeeded", "message": "verified: running 2.9.0", "seconds": 84.2, "verified": true}
    - {"ip": "198.51.100.12", "result": "skipped", "message": "already on firmware 2.9.0", "seconds": 0.0, "verified": false}
updated:
  description: The addresses of the cameras updated; in check mode, of those a run would update.
  returned: always
  type: list
  elements: str
skipped_cameras:
  description:
    - The addresses of the cameras skipped, already on C(version).
    - Not C(skipped), which would mark the task itself as skipped.
  returned: always
  type: list
  elements: str
failed_cameras:
  description:
    - The addresses of the cameras that failed, were interrupted, were not started or are missing.
    - In check mode, of those a run would refuse or find missing.
  returned: always
  type: list
  elements: str
image:
  description:
    - The image line of C(ordelctl), with keys C(event), C(file), C(size) and C(md5).
    - None when C(ordelctl) refused the run before reading it, and in check mode when the image
      is not on the managed host yet.
  returned: always
  type: dict
msg:
  description:
    - In check mode, that the image is not on the managed host yet, so the plan is the search's alone.
  returned: in check mode, when the image is not on the managed host yet
  type: str
rc:
  description: The exit code of C(ordelctl).
  returned: always
  type: int
'''

import os
import re

from ansible_collections.ordel.cameras.plugins.module_utils import ordelctl

OPTION_FLAGS = [
    ('image', '--image'),
    ('version', '--fw-version'),
    ('type', '--type'),
    ('any_type', '--any-type'),
    ('parallel', '--parallel'),
    ('canary', '--canary'),
    ('max_failures', '--max-failures'),
    ('report_timeout', '--report-timeout'),
    ('verify_timeout', '--verify-timeout'),
    ('expect', '--expect'),
]


# ordelctl's limits: the unit tests hold them, and the DOCUMENTATION's, to
# the table ordelctl's own test reads.
RANGES = dict(parallel=(1, 256), canary=(1, 100000), max_failures=(1, 100000),
              report_timeout=(1, 86400), verify_timeout=(1, 86400))

# ordelctl's plan says a camera's version in its reason: "on 2.8.1",
# "canary, on 2.8.1", "already on firmware 2.9.0".
PLANNED_VERSION = re.compile(r'\bon (?:firmware )?(\S+)$')


def versions_before(plan):
    """Each planned camera's version, "unknown" where the plan does not say."""
    before = {}
    for item in plan:
        found = PLANNED_VERSION.search(item.get('reason', ''))
        before[item.get('ip')] = found.group(1) if found else 'unknown'
    return before


def diff(before, updated, version):
    after = dict((ip, version if ip in updated else fw) for ip, fw in before.items())

    def text(versions):
        return ''.join('%s: %s\n' % item for item in sorted(versions.items()))
    return dict(before=text(before), after=text(after),
                before_header='firmware before', after_header='firmware after')


def fold(module, rc, objects):
    """The module's result from a run's final lines, or from a check's plan."""
    image = next((item for item in objects if item.get('event') == 'image'), None)
    if module.check_mode:
        results = ordelctl.with_key(objects, 'plan')
        return dict(results=results, image=image, rc=rc,
                    changed='update' in [item['plan'] for item in results],
                    updated=ordelctl.addresses(results, 'plan', ('update',)),
                    skipped_cameras=ordelctl.addresses(results, 'plan', ('skip',)),
                    failed_cameras=ordelctl.addresses(results, 'plan', ordelctl.FAILING_PLANS))
    results = ordelctl.with_key(objects, 'result')
    updated = ordelctl.addresses(results, 'result', ('succeeded',))
    return dict(results=results, image=image, rc=rc, changed=bool(updated), updated=updated,
                skipped_cameras=ordelctl.addresses(results, 'result', ('skipped',)),
                failed_cameras=ordelctl.addresses(results, 'result', ordelctl.FAILING_RESULTS))


def failure(module, rc, results, err):
    """Why the task fails, or None: the cameras that (would) fail, else
    ordelctl's own word for any exit code but success."""
    if module.check_mode:
        names = ordelctl.named(results, 'plan', ordelctl.FAILING_PLANS)
        if names:
            return 'a run would fail cameras: ' + names
    else:
        names = ordelctl.named(results, 'result', ordelctl.FAILING_RESULTS)
        if names:
            return 'cameras failed: ' + names
    if rc != ordelctl.EXIT_OK:
        return ordelctl.stderr_reason(rc, err)
    return None


def stand_in_image(module):
    """A one-byte file for ordelctl to read in place of an image that is not
    on the host yet; Ansible removes the module's temporary directory."""
    path = os.path.join(module.tmpdir, 'image-not-on-host-yet')
    with open(path, 'wb') as stand_in:
        stand_in.write(b'\0')
    return path


def main():
    module = ordelctl.new_module(dict(
        image=dict(type='path', required=True),
        version=dict(type='str', required=True),
        cameras=dict(type='list', elements='str'),
        type=dict(type='str'),
        any_type=dict(type='bool', default=False),
        parallel=dict(type='int'),
        canary=dict(type='int'),
        max_failures=dict(type='int'),
        report_timeout=dict(type='int'),
        verify_timeout=dict(type='int'),
        expect=dict(type='path'),
    ), ranges=RANGES, mutually_exclusive=[('cameras', 'expect'), ('type', 'any_type')])

    cameras = module.params['cameras']
    image = module.params['image']
    # copy copies nothing in check mode, so a play that puts the image on the
    # host first is checked before it is there. ordelctl's plan does not
    # depend on the image's bytes and --check sends no camera anything, so a
    # stand-in gives the plan of a run, with every rule of ordelctl's.
    absent = module.check_mode and not os.path.exists(image)
    params = dict(module.params, image=stand_in_image(module) if absent else image)
    options = ['--check'] if module.check_mode else ['--yes']
    options += ordelctl.option_args(params, OPTION_FLAGS)
    # An empty list goes to ordelctl as it is, which refuses it: only a list
    # left out means every camera.
    if cameras is None:
        options.append('--all')
    before = None
    if module._diff and not module.check_mode:
        plan = ordelctl.run(module, 'update', ['--check'] + options[1:], cameras)
        before = versions_before(ordelctl.with_key(plan.objects, 'plan'))
    done = ordelctl.run(module, 'update', options, cameras)
    result = fold(module, done.rc, done.objects)
    if module._diff:
        if before is None:
            before = versions_before(result['results'])
        result['diff'] = diff(before, result['updated'], module.params['version'])
    if absent:
        # The stand-in's digest would pass for the image's.
        result['image'] = None
    msg = failure(module, done.rc, result['results'], done.err)
    if msg:
        result.pop('rc')
        done.fail(module, msg, **result)
    if absent:
        result['msg'] = ('the image %s is not on the managed host yet: the plan is the search\'s alone'
                         % image)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
